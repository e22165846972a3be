#include "check/messages.h"

namespace {

// Each check's texts, by variant: English first, then Russian.
struct check_texts {
  check_id id;
  std::uint8_t variant;
  message_text en, ru;
};

const check_texts TEXTS[] = {
    {COMMENT_IN_TEXT, 0,
     {"\";\" starts a comment for mavo, also inside text: the player sees \"%1\" without the rest of the line, "
      "where UrqW prints it whole",
      "write \"##59$\" for a \";\" that is text: \"%2\""},
     {"\";\" для mavo начинает комментарий и внутри текста: игрок увидит \"%1\" без остатка строки, "
      "а UrqW выводит её целиком",
      "чтобы вывести \";\", напишите \"##59$\": \"%2\""}},
    {COMMENT_IN_TEXT, 1,
     {"\";\" inside this string starts a comment for mavo: it cuts the line at the \";\", the string's "
      "closing quote and any \"&\" after it included, so the statement becomes \"%1\", where UrqW keeps "
      "the string whole",
      "write \"##59$\" for a \";\" in the string (UrqW shows it as \";\"): \"%2\""},
     {"\";\" внутри этой строки для mavo начинает комментарий: mavo обрежет строку на \";\" вместе с "
      "закрывающей кавычкой и всеми \"&\" после неё, и оператор станет \"%1\", а UrqW сохраняет строку целиком",
      "напишите \"##59$\" вместо \";\" в строке (UrqW покажет его как \";\"): \"%2\""}},
    {COMMENT_IN_TEXT, 2,
     {"\";\" inside this JavaScript starts a comment for mavo: it cuts the line at the \";\", the closing "
      "quote and any \"&\" after it included, so the code becomes \"%1\", where UrqW runs it whole",
      "JavaScript needs no \";\" at the end of its code, and statements can each stand in braces, "
      "\"{f(1)}{g(2)}\" (a \"##59$\" would reach the code as \"&#59;\")"},
     {"\";\" внутри этого JavaScript для mavo начинает комментарий: mavo обрежет строку на \";\" вместе с "
      "закрывающей кавычкой и всеми \"&\" после неё, и код станет \"%1\", а UrqW выполняет его целиком",
      "JavaScript не нужен \";\" в конце кода, а операторы можно заключить каждый в фигурные скобки, "
      "\"{f(1)}{g(2)}\" (\"##59$\" попадёт в код как \"&#59;\")"}},
    {SEPARATOR_LINE, 0,
     {"this line of \"_\" is a continuation line: mavo joins it to the line before, less its first \"_\", "
      "and that line becomes \"%1\"",
      "to draw a line, print it: \"pln %2\""},
     {"эта строка из \"_\" считается продолжением: mavo присоединяет её к строке выше без первого \"_\", "
      "и та строка становится \"%1\"",
      "чтобы нарисовать черту, выведите её: \"pln %2\""}},
    {CONTINUATION_AFTER_EMPTY_LINE, 0,
     {"an empty line stands before this \"_\" line: mavo leaves \"%1\" on a line of its own, which the "
      "interpreter cannot run; UrqW alone joins it to the last non-empty line",
      "remove the empty line before it"},
     {"перед этой строкой с \"_\" стоит пустая строка: mavo оставит \"%1\" отдельной строкой, которую "
      "интерпретатор не выполнит; только UrqW присоединяет её к последней непустой строке",
      "уберите пустую строку перед ней"}},
    {CONTINUATION_AFTER_COMMENT, 0,
     {"this \"_\" line continues a line that ends in a \";\" comment: mavo removes the comment first and "
      "writes \"%1\", while an interpreter that removes comments after joining loses this line with it",
      "put the comment after the last continuation line, or on a line of its own"},
     {"эта строка с \"_\" продолжает строку с комментарием \";\": mavo сначала убирает комментарий и "
      "пишет \"%1\", а интерпретатор, который убирает комментарии после склейки, потеряет эту строку вместе с ним",
      "перенесите комментарий после последней строки продолжения или на отдельную строку"}},
    {DOUBLE_UNDERSCORE, 0,
     {"this line starts with \"__\": mavo joins it to the line before, keeping one \"_\" (\"%1\"), while "
      "UrqW leaves it on a line of its own",
      "start it with one \"_\" to join it, or with something else to keep it apart"},
     {"строка начинается с \"__\": mavo присоединяет её к строке выше, оставив один \"_\" (\"%1\"), а "
      "UrqW оставляет её отдельной строкой",
      "начните её с одного \"_\", чтобы склеить, или с другого знака, чтобы оставить отдельной"}},
    {CTRL_Z_CUT, 0,
     {"a byte 26 (Ctrl-Z) ends the script here for mavo: nothing after it is read (lines lost: "
      "%3, action buttons among them: %4)",
      "remove the byte 26"},
     {"байт 26 (Ctrl-Z) здесь обрывает сценарий для mavo: всё после него не читается, потеряно "
      "строк: %3, кнопок с действиями в них: %4",
      "удалите байт 26"}},
    {UNCLOSED_COMMENT, 0,
     {"this \"/*\" is never closed: it stays in the text with everything after it, and the interpreter "
      "cannot run that line",
      "close the comment with \"*/\""},
     {"этот \"/*\" нигде не закрыт: он остаётся в тексте вместе со всем, что после него, и интерпретатор "
      "не сможет выполнить эту строку",
      "закройте комментарий знаками \"*/\""}},
    {LONE_CR, 0,
     {"this \";\" comment runs over a lone CR, which the editor shows as a line end: mavo also removes "
      "\"%1\" after it",
      "end the line with CR LF or LF"},
     {"комментарий \";\" продолжается за одиночным CR, который редактор показывает как конец строки: "
      "mavo уберёт и \"%1\" после него",
      "закончите строку парой CR LF или LF"}},
    {ELSE_SWALLOWED, 0,
     {"this action button in a \"then\" branch takes the rest of the line as its actions, \" else %1\" "
      "included: when the condition fails nothing runs, and after the click \"else %1\" is part of the last action "
      "(a \"pln\" prints it)",
      "put the actions in braces before \"else\": \"& {...} else %1\""},
     {"эта кнопка действия в ветке \"then\" забирает остаток строки вместе с \" else %1\": если условие "
      "не выполнено, ничего не происходит, а после нажатия \"else %1\" становится частью последнего действия "
      "(\"pln\" его напечатает)",
      "заключите действия в фигурные скобки перед \"else\": \"& {...} else %1\""}},
    {TARGET_NOT_FOUND, 0,
     {"there is no location \":%1\" in the script: after the actions the block's \"goto %1\" leads "
      "nowhere, and the player is left without buttons",
      "add the location \":%1\", or correct the label"},
     {"в сценарии нет локации \":%1\": после действий \"goto %1\" блока никуда не ведёт, и игрок "
      "остаётся без кнопок",
      "добавьте локацию \":%1\" или исправьте метку"}},
    {TARGET_IS_COMMAND, 0,
     {"the label \"%1\" is a command, not a location: the block ends with \"goto %1\", which cannot run "
      "it, and the player is left without buttons",
      "put the command in the actions and give a location as the label: \"mavo <location>,... & %1 & ...\""},
     {"метка \"%1\" — это команда, а не локация: блок кончается на \"goto %1\", который её не выполнит, "
      "и игрок остаётся без кнопок",
      "перенесите команду в действия, а меткой укажите локацию: \"mavo <локация>,... & %1 & ...\""}},
    {LABEL_SUBSTITUTION, 0,
     {"the label reads \"%1\", which the actions change: the block's \"goto\" runs after them and goes "
      "where the changed value says, not where the button pointed when it was shown",
      "keep the destination in a variable that the actions do not change"},
     {"метка читает \"%1\", а действия его меняют: \"goto\" блока выполняется после них и ведёт туда, "
      "куда указывает новое значение, а не туда, куда вела кнопка, когда её показали",
      "храните место назначения в переменной, которую действия не меняют"}},
    {BLOCKS_DIFFER_IN_CASE, 0,
     {"this button's block \"%1\" differs only in letter case from the block \"%2\" of the button on line "
      "%L, and interpreters ignore case: this button runs that button's actions",
      "make the two captions differ in more than letter case"},
     {"блок \"%1\" этой кнопки отличается от блока \"%2\" кнопки в строке %L только регистром букв, а "
      "интерпретаторы его не различают: эта кнопка выполнит действия той",
      "сделайте надписи кнопок различными не только регистром"}},
    {LABEL_RUNS_ON, 0,
     {"there is no \",\" on this line: the label runs on to the \",\" on line %L, and the statement "
      "becomes something else",
      "write \"mavo <label>,<caption> & <actions>\" with the \",\" on this line"},
     {"в этой строке нет \",\": метка тянется до \",\" в строке %L, и оператор становится чем-то другим",
      "напишите \"mavo <метка>,<надпись> & <действия>\" с \",\" в этой строке"}},
    {BRACE_RUNS_ON, 0,
     {"the \"}\" that closes these actions stands past the location \":%1\" (line %L): everything in "
      "between, that location's lines included, becomes the button's actions",
      "close the actions with \"}\" before the next location"},
     {"\"}\", закрывающая эти действия, стоит после локации \":%1\" (строка %L): всё между ними, "
      "включая строки той локации, станет действиями кнопки",
      "закройте действия знаком \"}\" до следующей локации"}},
    {BRACE_RUNS_ON, 1,
     {"no \"}\" closes these actions in the script: they run to a \"}\" in the blocks that mavo appends, "
      "and everything up to it, the rest of the script included, becomes the button's actions",
      "close the actions with \"}\""},
     {"в сценарии нет \"}\", закрывающей эти действия: они тянутся до \"}\" в блоках, которые mavo "
      "дописывает в конец, и всё до неё, включая остаток сценария, станет действиями кнопки",
      "закройте действия знаком \"}\""}},
    {UNCLOSED_BRACE, 0,
     {"this \"{\" is never closed: mavo leaves the action button as it is, and the interpreter cannot run it",
      "close the actions with \"}\""},
     {"эта \"{\" нигде не закрыта: mavo оставляет кнопку действия как есть, и интерпретатор не сможет её выполнить",
      "закройте действия знаком \"}\""}},
    {NOT_EXPANDED, 0,
     {"an action button at the very start of the script is not expanded: mavo leaves it as it is, and "
      "the interpreter cannot run it",
      "start the script with its first location's label line (\":start\")"},
     {"кнопка действия в самом начале сценария не раскрывается: mavo оставляет её как есть, и "
      "интерпретатор не сможет её выполнить",
      "начните сценарий со строки метки первой локации (\":start\")"}},
    {NOT_EXPANDED, 4,
     {"an action button right after the byte order mark that starts this UTF-8 file is not expanded: for "
      "mavo it stands at the very start of the script, and it leaves it as it is",
      "start the script with its first location's label line (\":start\")"},
     {"кнопка действия сразу после метки порядка байтов в начале этого файла UTF-8 не раскрывается: для "
      "mavo она стоит в самом начале сценария, и он оставляет её как есть",
      "начните сценарий со строки метки первой локации (\":start\")"}},
    {NOT_EXPANDED, 1,
     {"an action button after \"%1\" is not expanded: mavo knows \" then\" and \" else\" in lower case "
      "only, and leaves it as it is",
      "write \"%2\" in lower case"},
     {"кнопка действия после \"%1\" не раскрывается: mavo узнаёт \" then\" и \" else\" только строчными "
      "буквами и оставляет её как есть",
      "напишите \"%2\" строчными буквами"}},
    {NOT_EXPANDED, 2,
     {"this action button has no label before its \",\": mavo leaves it as it is, and the interpreter "
      "cannot run it",
      "name the location to go to: \"mavo <label>,<caption> & <actions>\""},
     {"у этой кнопки действия нет метки перед \",\": mavo оставляет её как есть, и интерпретатор не "
      "сможет её выполнить",
      "укажите локацию, куда идти: \"mavo <метка>,<надпись> & <действия>\""}},
    {NOT_EXPANDED, 3,
     {"no \",\" follows this action button anywhere in the script: mavo leaves it as it is, and the "
      "interpreter cannot run it",
      "write \"mavo <label>,<caption> & <actions>\""},
     {"после этой кнопки действия во всём сценарии нет \",\": mavo оставляет её как есть, и "
      "интерпретатор не сможет её выполнить",
      "напишите \"mavo <метка>,<надпись> & <действия>\""}},
    {PREVIOUS_LOC, 0,
     {"the location \":%1\" reads previous_loc, which after this action button names the button's "
      "block, not the room the player came from: a button back to it runs the actions again",
      "keep the room to go back to in a variable of your own"},
     {"локация \":%1\" читает previous_loc, а после этой кнопки действия он называет блок кнопки, а не "
      "комнату, откуда пришёл игрок: кнопка назад снова выполнит действия",
      "храните комнату для возврата в своей переменной"}},
    {PREVIOUS_LOC, 1,
     {"the location \":%1\" reads current_loc, which in mode %2 names this action button's block after "
      "the click, not the location: a button to it runs the actions again",
      "keep the room's name in a variable of your own"},
     {"локация \":%1\" читает current_loc, а в режиме %2 после нажатия этой кнопки действия он называет "
      "блок кнопки, а не локацию: кнопка туда снова выполнит действия",
      "храните имя комнаты в своей переменной"}},
    {CLS_WIPES, 0,
     {"the location \":%1\" clears the screen (\"cls\") before it prints anything: the player never "
      "sees what this button's actions print",
      "remove the \"cls\" there, or print the text at the location instead"},
     {"локация \":%1\" очищает экран (\"cls\") раньше, чем что-либо выводит: игрок так и не увидит, "
      "что выводят действия этой кнопки",
      "уберите там \"cls\" или выводите текст в самой локации"}},
    {UNKNOWN_LOCATION, 0,
     {"there is no location \":%1\" in the script: this \"goto\" leads nowhere, and the game stops here",
      "add the location \":%1\", or correct the name"},
     {"в сценарии нет локации \":%1\": этот \"goto\" никуда не ведёт, и игра здесь остановится",
      "добавьте локацию \":%1\" или исправьте имя"}},
    {UNKNOWN_LOCATION, 1,
     {"there is no location \":%1\" in the script: this \"proc\" runs nothing",
      "add the location \":%1\", or correct the name"},
     {"в сценарии нет локации \":%1\": этот \"proc\" ничего не выполнит",
      "добавьте локацию \":%1\" или исправьте имя"}},
    {UNKNOWN_LOCATION, 2,
     {"there is no location \":%1\" in the script: this button leads nowhere",
      "add the location \":%1\", or correct the name"},
     {"в сценарии нет локации \":%1\": эта кнопка никуда не ведёт",
      "добавьте локацию \":%1\" или исправьте имя"}},
    {DUPLICATE_LOCATION, 0,
     {"the location \":%1\" is defined again here (first on line %L): interpreters ignore letter case, "
      "and a jump to it goes to the first; this one is reached only by running on from the line before it",
      "give this location a name of its own"},
     {"локация \":%1\" определена здесь повторно (впервые в строке %L): интерпретаторы не различают "
      "регистр, и переход к ней ведёт к первой; сюда игра попадёт, только дойдя до неё со строки выше",
      "дайте этой локации собственное имя"}},
    {DUPLICATE_LOCATION, 1,
     {"the location \":%1\" is defined in %2 too (line %L), which UrqW loads first, its name starting "
      "with \"_\": a jump to it goes there, and this one is reached only by running on from the line before it",
      "give this location a name of its own"},
     {"локация \":%1\" определена и в %2 (строка %L), который UrqW загружает первым, раз его имя "
      "начинается с \"_\": переход к ней ведёт туда, а сюда игра попадёт, только дойдя до неё со строки выше",
      "дайте этой локации собственное имя"}},
    {DUPLICATE_LOCATION, 2,
     {"the location \":%1\" is defined in %2 too (line %L): UrqW plays the game's files as one text, and "
      "a jump goes to the definition that comes first in the order of the files in the game's zip; the other "
      "is reached only by running on from the line before it",
      "give one of the two locations a name of its own"},
     {"локация \":%1\" определена и в %2 (строка %L): UrqW играет файлы игры как один текст, и переход "
      "ведёт к определению, которое идёт первым в порядке файлов в zip-архиве игры; к другому игра попадёт, "
      "только дойдя до него со строки выше",
      "дайте одной из двух локаций собственное имя"}},
    {DUPLICATE_LOCATION, 3,
     {"%2 stands beside this script and defines \":%1\" too (line %L), and %3 more of its locations: it is "
      "the result mavo wrote from this script, and UrqW plays every .qst of a game together, so each location "
      "is there twice and a jump may go to this script's own, whose action buttons UrqW cannot read",
      "publish %2 without this script: keep the script outside the game's folder"},
     {"рядом с этим сценарием лежит %2 и тоже определяет \":%1\" (строка %L), как и другие его "
      "локации (ещё: %3): это результат, записанный mavo из этого сценария, а UrqW играет все .qst игры вместе, так что "
      "каждая локация есть дважды, и переход может попасть в локацию самого сценария, чьи кнопки действия "
      "UrqW не читает",
      "публикуйте %2 без этого сценария: держите сценарий вне папки игры"}},
    {MISSING_AMPERSAND, 0,
     {"\"%1\" stands inside an assignment, with no \"&\" before it: it becomes part of the expression, "
      "so nothing is assigned and the jump never happens",
      "write \"& %1\""},
     {"\"%1\" стоит внутри присваивания без \"&\" перед ним: он становится частью выражения, так что "
      "ничего не присваивается и перехода не будет",
      "напишите \"& %1\""}},
    {MISSING_AMPERSAND, 1,
     {"\"%1\" stands inside printed text, with no \"&\" before it: the player sees it printed, and the "
      "jump never happens",
      "write \"& %1\""},
     {"\"%1\" стоит внутри выводимого текста без \"&\" перед ним: игрок увидит его напечатанным, а "
      "перехода не будет",
      "напишите \"& %1\""}},
    {UNKNOWN_CHECK_NAME, 0,
     {"\"%1\" is not the name of a check: by this name the directive silences nothing",
      "the names are listed in \"mavo-check --help\" and in the README"},
     {"\"%1\" — не имя проверки: под этим именем директива ничего не заглушает",
      "имена перечислены в \"mavo-check --help\" и в README"}},
    {UNKNOWN_CHECK_NAME, 1,
     {"\"%1\" is not the name of a check: by this name the directive silences nothing",
      "did you mean \"%2\"?"},
     {"\"%1\" — не имя проверки: под этим именем директива ничего не заглушает",
      "может быть, \"%2\"?"}},
};

// The notes of a name that leads nowhere, when a location of the game is close to
// it or the name mixes two alphabets: English, then Russian.
struct bilingual {
  const char* en;
  const char* ru;
};
const bilingual SUGGESTION = {"did you mean \":%2\"?", "может быть, \":%2\"?"};
const bilingual MIXED_SUGGESTION = {
    "did you mean \":%2\"? \"%1\" mixes Latin and Cyrillic letters",
    "может быть, \":%2\"? в \"%1\" смешаны латинские и русские буквы"};
const bilingual MIXED = {"\"%1\" mixes Latin and Cyrillic letters: add the location \":%1\", or correct the name",
                            "в \"%1\" смешаны латинские и русские буквы: добавьте локацию \":%1\" или исправьте имя"};

}  // namespace

const char* note_for(const finding& f, bool suggested, message_language language) {
  const bool ru = language == LANGUAGE_RU;
  if (f.id == UNKNOWN_LOCATION || f.id == TARGET_NOT_FOUND) {
    const bilingual* note = suggested ? (f.count[1] != 0 ? &MIXED_SUGGESTION : &SUGGESTION)
                                      : (f.count[1] != 0 ? &MIXED : nullptr);
    if (note != nullptr) return ru ? note->ru : note->en;
  }
  return message_for(f, language).note;
}

const message_text& message_for(const finding& f, message_language language) {
  for (const check_texts& t : TEXTS) {
    if (t.id == f.id && t.variant == f.variant) return language == LANGUAGE_RU ? t.ru : t.en;
  }
  for (const check_texts& t : TEXTS) {
    if (t.id == f.id) return language == LANGUAGE_RU ? t.ru : t.en;
  }
  return TEXTS[0].en;  // every check has texts; the tests see to it
}

std::string fill_message(std::string_view form, const std::string (&text)[2], const finding& f,
                         std::uint64_t other_line) {
  std::string out;
  fill_message_into(form, text, f, other_line, out);
  return out;
}

void fill_message_into(std::string_view form, const std::string (&text)[2], const finding& f,
                       std::uint64_t other_line, std::string& out) {
  for (std::size_t i = 0; i < form.size(); ++i) {
    const std::size_t mark = form.find('%', i);
    if (mark == std::string_view::npos || mark + 1 == form.size()) {
      out.append(form, i);
      return;
    }
    out.append(form, i, mark - i);
    i = mark;
    switch (form[++i]) {
      case '1': out += text[0]; break;
      case '2': out += text[1]; break;
      case '3': out += std::to_string(f.count[0]); break;
      case '4': out += std::to_string(f.count[1]); break;
      case 'L': out += std::to_string(other_line); break;
      default:
        out += '%';
        out += form[i];
    }
  }
}

check_id check_by_name(std::string_view name) {
  for (int i = 0; i < CHECK_COUNT; ++i)
    if (name == CHECK_NAMES[i]) return static_cast<check_id>(i);
  return CHECK_COUNT;
}
