// mavo-check's findings: a script in, the exact report out, one positive case and
// one near miss for each check; the bundled examples are clean; and on generated
// scripts, what the checker read of each action button is what mavo wrote of it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/script_gen.h"
#include "check/charset.h"
#include "check/check.h"
#include "check/report.h"
#include "checker/run.h"
#include "common/io.h"
#include "common/pipeline.h"

namespace {

namespace fs = std::filesystem;

std::vector<report_item> items_of(std::string_view script, check_mode mode, message_language language,
                                  bool show_all = true) {
  script_reading r;
  r.show_all = show_all;
  check_script(r, script_text(script), mode);
  std::vector<report_item> items;
  report_findings(r, "t.qst", language, items);
  return items;
}

// The report as mavo-check prints it for a file "t.qst".
std::string gcc_report(std::string_view script, check_mode mode = MODE_URQW,
                       message_language language = LANGUAGE_EN, bool show_all = true) {
  std::string out;
  for (const report_item& item : items_of(script, mode, language, show_all)) out += format_gcc(item);
  return out;
}

std::string file_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct check_case {
  const char* name;
  check_mode mode;
  const char* script;
  const char* report;
  bool without_all = false;  // checked as mavo-check checks without --all
};

const check_case CASES[] = {
    {"comment_in_text_after_a_word", MODE_URQW,
     ":start\npln Hello; world\nend\n",
     R"x(t.qst:2:10: warning: ";" starts a comment for mavo, also inside text: the player sees "Hello" without the rest of the line, where UrqW prints it whole [comment-in-text]
pln Hello; world
         ^
t.qst:2:10: note: write "##59$" for a ";" that is text: "pln Hello##59$ world"
)x"},
    {"comment_in_text_in_an_attribute", MODE_URQW,
     ":start\npln <span style=\"color: red; font-weight: bold\">x</span>\nend\n",
     R"x(t.qst:2:28: warning: ";" starts a comment for mavo, also inside text: the player sees "<span style="color: red" without the rest of the line, where UrqW prints it whole [comment-in-text]
pln <span style="color: red; font-weight: bold">x</span>
                           ^
t.qst:2:28: note: write "##59$" for a ";" that is text: "pln <span style="color: red##59$ font-weight: bold">x</span>"
)x"},
    {"comment_in_text_set_off_by_blanks", MODE_URQW,
     ":start\npln Hi.  ; a note\nend\n",
     ""},
    {"comment_in_text_only_in_urqw", MODE_RIPURQ,
     ":start\npln Hello; world\nend\n",
     ""},
    {"comment_in_text_utf8_columns", MODE_URQW,
     ":start\npln \xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82; \xd0\xbc\xd0\xb8\xd1\x80\nend\n",
     R"x(t.qst:2:11: warning: ";" starts a comment for mavo, also inside text: the player sees "Привет" without the rest of the line, where UrqW prints it whole [comment-in-text]
pln Привет; мир
          ^
t.qst:2:11: note: write "##59$" for a ";" that is text: "pln Привет##59$ мир"
)x"},
    {"comment_in_text_cp1251_columns", MODE_URQW,
     ":start\npln \xcf\xf0\xe8\xe2\xe5\xf2; \xec\xe8\xf0\nend\n",
     R"x(t.qst:2:11: warning: ";" starts a comment for mavo, also inside text: the player sees "Привет" without the rest of the line, where UrqW prints it whole [comment-in-text]
pln Привет; мир
          ^
t.qst:2:11: note: write "##59$" for a ";" that is text: "pln Привет##59$ мир"
)x"},
    {"separator_line", MODE_URQW,
     ":start\npln a\n____\npln b\nend\n",
     R"x(t.qst:3:1: warning: this line of "_" is a continuation line: mavo joins it to the line before, less its first "_", and that line becomes "pln a___" [separator-line]
____
^
t.qst:3:1: note: to draw a line, print it: "pln ____"
)x"},
    {"separator_printed", MODE_URQW,
     ":start\npln ____\nend\n",
     ""},
    {"continuation_after_empty_line", MODE_URQW,
     ":start\npln a\n\n_b\nend\n",
     R"x(t.qst:4:1: warning: an empty line stands before this "_" line: mavo leaves "b" on a line of its own, which the interpreter cannot run; UrqW alone joins it to the last non-empty line [continuation-after-empty-line]
_b
^
t.qst:4:1: note: remove the empty line before it
)x"},
    {"continuation_plain", MODE_URQW,
     ":start\npln a\n_b\nend\n",
     ""},
    {"continuation_after_comment_in_urqw", MODE_URQW,
     ":start\npln a ;c\n_b\nend\n",
     ""},
    {"continuation_after_comment", MODE_RIPURQ,
     ":start\npln a ;c\n_b\nend\n",
     R"x(t.qst:3:1: warning: this "_" line continues a line that ends in a ";" comment: mavo removes the comment first and writes "pln a b", while an interpreter that removes comments after joining loses this line with it [continuation-after-comment]
_b
^
t.qst:3:1: note: put the comment after the last continuation line, or on a line of its own
)x"},
    {"double_underscore", MODE_URQW,
     ":start\npln a\n__b\nend\n",
     R"x(t.qst:3:1: warning: this line starts with "__": mavo joins it to the line before, keeping one "_" ("pln a_b"), while UrqW leaves it on a line of its own [double-underscore]
__b
^
t.qst:3:1: note: start it with one "_" to join it, or with something else to keep it apart
)x"},
    {"ctrl_z_before_the_end", MODE_URQW,
     ":start\npln a\n\x1apln b\nmavo x,y & z\nend\n",
     R"x(t.qst:3:1: warning: a byte 26 (Ctrl-Z) ends the script here for mavo: nothing after it is read (lines lost: 3, action buttons among them: 1) [ctrl-z]
^Zpln b
^
t.qst:3:1: note: remove the byte 26
)x"},
    {"ctrl_z_inside_a_line", MODE_URQW,
     ":start\npln a\x1a b\r\nend\r\n",
     R"x(t.qst:2:6: warning: a byte 26 (Ctrl-Z) ends the script here for mavo: nothing after it is read (lines lost: 2, action buttons among them: 0) [ctrl-z]
pln a^Z b
     ^
t.qst:2:6: note: remove the byte 26
)x"},
    {"ctrl_z_at_the_end", MODE_URQW,
     ":start\npln a\nend\n\x1a",
     ""},
    {"unclosed_comment", MODE_URQW,
     ":start\npln a /* b\npln c\nend\n",
     R"x(t.qst:2:7: warning: this "/*" is never closed: it stays in the text with everything after it, and the interpreter cannot run that line [unclosed-comment]
pln a /* b
      ^
t.qst:2:7: note: close the comment with "*/"
)x"},
    {"closed_comment", MODE_URQW,
     ":start\npln a /* b */ c\nend\n",
     ""},
    {"lone_cr_in_a_comment", MODE_URQW,
     ":start\npln a ;c\rpln b\nend\n",
     R"x(t.qst:3:1: warning: this ";" comment runs over a lone CR, which the editor shows as a line end: mavo also removes "pln b" after it [lone-cr]
pln b
^
t.qst:3:1: note: end the line with CR LF or LF
)x"},
    {"cr_lf_after_a_comment", MODE_URQW,
     ":start\npln a ;c\r\npln b\nend\n",
     ""},
    {"else_swallowed", MODE_URQW,
     ":start\nif x=1 then mavo start,Go & y=1 else y=2\nend\n",
     R"x(t.qst:2:13: warning: this action button in a "then" branch takes the rest of the line as its actions, " else y=2" included: when the condition fails nothing runs, and after the click "else y=2" is part of the last action (a "pln" prints it) [else-swallowed]
if x=1 then mavo start,Go & y=1 else y=2
            ^
t.qst:2:13: note: put the actions in braces before "else": "& {...} else y=2"
)x"},
    {"else_inside_braces", MODE_URQW,
     ":start\nif x=1 then mavo start,Go & {y=1 else y=2}\nend\n",
     ""},
    {"target_not_found", MODE_URQW,
     ":start\nmavo nowhere,Go & x=1\nend\n",
     R"x(t.qst:2:1: warning: there is no location ":nowhere" in the script: after the actions the block's "goto nowhere" leads nowhere, and the player is left without buttons [target-not-found]
mavo nowhere,Go & x=1
^
t.qst:2:1: note: add the location ":nowhere", or correct the label
)x"},
    {"target_found_ignoring_case_and_blanks", MODE_URQW,
     ":Start\nmavo  start ,Go & x=1\nend\n",
     ""},
    {"target_found_cyrillic_cp1251", MODE_URQW,
     ":\xcd\xe0\xf7\xe0\xeb\xee\nmavo \xcd\xc0\xd7\xc0\xcb\xce,\xd1\xed\xee\xe2\xe0 & x=1\nend\n",
     ""},
    {"target_found_cyrillic_utf8", MODE_URQW,
     ":\xd0\x9d\xd0\xb0\xd1\x87\xd0\xb0\xd0\xbb\xd0\xbe\nmavo \xd0\x9d\xd0\x90\xd0\xa7\xd0\x90\xd0\x9b\xd0\x9e,\xd0\xa1\xd0\xbd\xd0\xbe\xd0\xb2\xd0\xb0 & x=1\nend\n",
     ""},
    {"target_is_command", MODE_URQW,
     ":start\nmavo inv+ Key,Take & x=1\nend\n",
     R"x(t.qst:2:1: warning: the label "inv+ Key" is a command, not a location: the block ends with "goto inv+ Key", which cannot run it, and the player is left without buttons [target-is-command]
mavo inv+ Key,Take & x=1
^
t.qst:2:1: note: put the command in the actions and give a location as the label: "mavo <location>,... & inv+ Key & ..."
)x"},
    {"label_substitution", MODE_URQW,
     ":room1\nmavo room#n$,Go & n=2\nend\n",
     R"x(t.qst:2:1: warning: the label reads "#n$", which the actions change: the block's "goto" runs after them and goes where the changed value says, not where the button pointed when it was shown [label-substitution]
mavo room#n$,Go & n=2
^
t.qst:2:1: note: keep the destination in a variable that the actions do not change
)x"},
    {"label_variable_not_changed", MODE_URQW,
     ":room1\nmavo room#n$,Go & m=2\nend\n",
     ""},
    {"blocks_differ_in_case", MODE_URQW,
     ":start\nmavo A,Go & x=1\nmavo a,Go & x=2\nend\n:a\nend\n",
     R"x(t.qst:3:1: warning: this button's block "mavo_a_Go_" differs only in letter case from the block "mavo_A_Go_" of the button on line 2, and interpreters ignore case: this button runs that button's actions [blocks-differ-in-case]
mavo a,Go & x=2
^
t.qst:3:1: note: make the two captions differ in more than letter case
t.qst:2:1: note: the other button
)x"},
    {"blocks_equal_in_all_but_case", MODE_URQW,
     ":start\nmavo A,Go & x=1\nmavo a,Go & x=1\nend\n:a\nend\n",
     ""},
    {"label_runs_on", MODE_URQW,
     ":start\nmavo start\npln x, y & z=1\nend\n",
     R"x(t.qst:2:1: warning: there is no "," on this line: the label runs on to the "," on line 3, and the statement becomes something else [label-runs-on]
mavo start
^
t.qst:2:1: note: write "mavo <label>,<caption> & <actions>" with the "," on this line
t.qst:3:6: note: the "," where the label ends
)x"},
    {"brace_runs_on", MODE_URQW,
     ":start\nmavo start,Go & {x=1\n:other\n}\nend\n",
     R"x(t.qst:2:1: warning: the "}" that closes these actions stands past the location ":other" (line 3): everything in between, that location's lines included, becomes the button's actions [brace-runs-on]
mavo start,Go & {x=1
^
t.qst:2:1: note: close the actions with "}" before the next location
t.qst:3:1: note: the location the actions run into
)x"},
    {"brace_closed_before_the_location", MODE_URQW,
     ":start\nmavo start,Go & {x=1\n}\n:other\nend\n",
     ""},
    {"unclosed_brace", MODE_URQW,
     ":start\nmavo start,Go & {x=1\nend\n",
     R"x(t.qst:2:17: warning: this "{" is never closed: mavo leaves the action button as it is, and the interpreter cannot run it [unclosed-brace]
mavo start,Go & {x=1
                ^
t.qst:2:17: note: close the actions with "}"
)x"},
    {"not_expanded_at_the_start", MODE_URQW,
     "mavo start,Go & x=1\n:start\nend\n",
     R"x(t.qst:1:1: warning: an action button at the very start of the script is not expanded: mavo leaves it as it is, and the interpreter cannot run it [not-expanded]
mavo start,Go & x=1
^
t.qst:1:1: note: start the script with its first location's label line (":start")
)x"},
    {"expanded_after_an_empty_first_line", MODE_URQW,
     "\nmavo start,Go & x=1\n:start\nend\n",
     ""},
    {"not_expanded_after_upper_case_then", MODE_URQW,
     ":start\nif a=1 THEN mavo start,Go & x=1\nend\n",
     R"x(t.qst:2:13: warning: an action button after "THEN" is not expanded: mavo knows " then" and " else" in lower case only, and leaves it as it is [not-expanded]
if a=1 THEN mavo start,Go & x=1
            ^
t.qst:2:13: note: write "then" in lower case
)x"},
    {"not_expanded_without_a_label", MODE_URQW,
     ":start\nmavo ,x & y=1\nend\n",
     R"x(t.qst:2:1: warning: this action button has no label before its ",": mavo leaves it as it is, and the interpreter cannot run it [not-expanded]
mavo ,x & y=1
^
t.qst:2:1: note: name the location to go to: "mavo <label>,<caption> & <actions>"
)x"},
    {"not_expanded_without_a_comma", MODE_URQW,
     ":start\nmavo start & y=1\nend\n",
     R"x(t.qst:2:1: warning: no "," follows this action button anywhere in the script: mavo leaves it as it is, and the interpreter cannot run it [not-expanded]
mavo start & y=1
^
t.qst:2:1: note: write "mavo <label>,<caption> & <actions>"
)x"},
    {"previous_loc", MODE_URQW,
     ":start\nmavo room,Go & x=1\nend\n:room\npln You came from #%previous_loc$\nend\n",
     R"x(t.qst:2:1: warning: the location ":room" reads previous_loc, which after this action button names the button's block, not the room the player came from: a button back to it runs the actions again [previous-loc]
mavo room,Go & x=1
^
t.qst:2:1: note: keep the room to go back to in a variable of your own
)x"},
    {"target_reads_no_previous_loc", MODE_URQW,
     ":start\nmavo room,Go & x=1\nend\n:room\npln Room\nend\n",
     ""},
    {"current_loc_in_dosurq", MODE_DOSURQ,
     ":start\nmavo room,Go & x=1\nend\n:room\nif current_loc=\"room\" then pln Back\nend\n",
     R"x(t.qst:2:1: warning: the location ":room" reads current_loc, which in mode dosurq names this action button's block after the click, not the location: a button to it runs the actions again [previous-loc]
mavo room,Go & x=1
^
t.qst:2:1: note: keep the room's name in a variable of your own
)x"},
    {"cls_wipes", MODE_URQW,
     ":start\nmavo room,Go & pln You take it.\nend\n:room\ncls\npln Room\nend\n",
     R"x(t.qst:2:1: warning: the location ":room" clears the screen ("cls") before it prints anything: the player never sees what this button's actions print [cls-wipes]
mavo room,Go & pln You take it.
^
t.qst:2:1: note: remove the "cls" there, or print the text at the location instead
)x"},
    {"cls_after_silent_actions", MODE_URQW,
     ":start\nmavo room,Go & x=1\nend\n:room\ncls\npln Room\nend\n",
     ""},
    {"unknown_location_goto", MODE_URQW,
     ":start\ngoto nowhere\nend\n",
     R"x(t.qst:2:6: warning: there is no location ":nowhere" in the script: this "goto" leads nowhere, and the game stops here [unknown-location]
goto nowhere
     ^
t.qst:2:6: note: add the location ":nowhere", or correct the name
)x"},
    {"unknown_location_btn_not_a_command", MODE_URQW,
     ":start\nbtn nowhere,Go\nbtn inv+ Key,Take\nend\n",
     R"x(t.qst:2:5: warning: there is no location ":nowhere" in the script: this button leads nowhere [unknown-location]
btn nowhere,Go
    ^
t.qst:2:5: note: add the location ":nowhere", or correct the name
)x"},
    {"known_location_and_variable_target", MODE_URQW,
     ":Start\ngoto  start \nproc #x$\nend\n",
     ""},
    {"unknown_location_cr_lf_lines", MODE_URQW,
     ":start\r\npln a\r\n\r\ngoto nowhere\r\nend\r\n",
     R"x(t.qst:4:6: warning: there is no location ":nowhere" in the script: this "goto" leads nowhere, and the game stops here [unknown-location]
goto nowhere
     ^
t.qst:4:6: note: add the location ":nowhere", or correct the name
)x"},
    {"unknown_location_tab_before", MODE_URQW,
     ":start\n\tgoto nowhere\nend\n",
     R"x(t.qst:2:7: warning: there is no location ":nowhere" in the script: this "goto" leads nowhere, and the game stops here [unknown-location]
	goto nowhere
	     ^
t.qst:2:7: note: add the location ":nowhere", or correct the name
)x"},
    {"duplicate_location", MODE_URQW,
     ":start\nend\n:Start\nend\n",
     R"x(t.qst:3:1: warning: the location ":Start" is defined again here (first on line 1): interpreters ignore letter case, and a jump to it goes to the first; this one is reached only by running on from the line before it [duplicate-location]
:Start
^
t.qst:3:1: note: give this location a name of its own
t.qst:1:1: note: the first definition
)x"},
    {"distinct_locations", MODE_URQW,
     ":start\nend\n:start2\nend\n",
     ""},
    {"missing_ampersand_after_assignment", MODE_URQW,
     ":start\nf1=f1-11 goto check\nend\n:check\nend\n",
     R"x(t.qst:2:10: warning: "goto check" stands inside an assignment, with no "&" before it: it becomes part of the expression, so nothing is assigned and the jump never happens [missing-ampersand]
f1=f1-11 goto check
         ^
t.qst:2:10: note: write "& goto check"
)x"},
    {"missing_ampersand_in_printed_text", MODE_URQW,
     ":start\npln Done. goto end_loc\nend\n:end_loc\nend\n",
     R"x(t.qst:2:11: warning: "goto end_loc" stands inside printed text, with no "&" before it: the player sees it printed, and the jump never happens [missing-ampersand]
pln Done. goto end_loc
          ^
t.qst:2:11: note: write "& goto end_loc"
)x"},
    {"missing_ampersand_goto_before_earlier_proc_and_btn", MODE_URQW,
     ":start\npln Press btn end_loc, proc nowhere, GOTO x, Proc end_loc or goto End_loc\nend\n:end_loc\nend\n",
     R"x(t.qst:2:62: warning: "goto End_loc" stands inside printed text, with no "&" before it: the player sees it printed, and the jump never happens [missing-ampersand]
pln Press btn end_loc, proc nowhere, GOTO x, Proc end_loc or goto End_loc
                                                             ^
t.qst:2:62: note: write "& goto End_loc"
)x"},
    {"missing_ampersand_proc_before_earlier_btn", MODE_URQW,
     ":start\npln Press btn end_loc, or proc End_loc\nend\n:end_loc\nend\n",
     R"x(t.qst:2:27: warning: "proc End_loc" stands inside printed text, with no "&" before it: the player sees it printed, and the jump never happens [missing-ampersand]
pln Press btn end_loc, or proc End_loc
                          ^
t.qst:2:27: note: write "& proc End_loc"
)x"},
    {"goto_word_in_text_not_a_location", MODE_URQW,
     ":start\npln Let us goto it\nend\n:check\nend\n",
     ""},
    {"silenced_on_the_same_line", MODE_URQW,
     ":start\ngoto nowhere ;mavo-check: ignore unknown-location\ngoto nowhere2\nend\n",
     R"x(t.qst:3:6: warning: there is no location ":nowhere2" in the script: this "goto" leads nowhere, and the game stops here [unknown-location]
goto nowhere2
     ^
t.qst:3:6: note: add the location ":nowhere2", or correct the name
)x"},
    {"silenced_on_the_line_before", MODE_URQW,
     ":start\n;mavo-check: ignore unknown-location,missing-ampersand\ngoto nowhere\ngoto nowhere2\nend\n",
     R"x(t.qst:4:6: warning: there is no location ":nowhere2" in the script: this "goto" leads nowhere, and the game stops here [unknown-location]
goto nowhere2
     ^
t.qst:4:6: note: add the location ":nowhere2", or correct the name
)x"},
    {"silencing_another_check", MODE_URQW,
     ":start\ngoto nowhere ;mavo-check: ignore duplicate-location\nend\n",
     R"x(t.qst:2:6: warning: there is no location ":nowhere" in the script: this "goto" leads nowhere, and the game stops here [unknown-location]
goto nowhere ;mavo-check: ignore duplicate-location
     ^
t.qst:2:6: note: add the location ":nowhere", or correct the name
)x"},
    // UrqW's reading drops a UTF-8 byte order mark; mavo's keeps it.
    {"bom_before_a_location", MODE_URQW,
     "\xef\xbb\xbf:start\npln hi\ngoto start\n",
     ""},
    {"bom_not_counted_in_columns", MODE_URQW,
     "\xef\xbb\xbfgoto nowhere\n:start\nend\n",
     R"x(t.qst:1:6: warning: there is no location ":nowhere" in the script: this "goto" leads nowhere, and the game stops here [unknown-location]
goto nowhere
     ^
t.qst:1:6: note: add the location ":nowhere", or correct the name
)x"},
    {"action_button_after_a_bom", MODE_URQW,
     "\xef\xbb\xbfmavo a,Go & pln x\n:a\nend\n",
     R"x(t.qst:1:1: warning: an action button right after the byte order mark that starts this UTF-8 file is not expanded: for mavo it stands at the very start of the script, and it leaves it as it is [not-expanded]
mavo a,Go & pln x
^
t.qst:1:1: note: start the script with its first location's label line (":start")
)x"},
    {"btn_to_a_command_word", MODE_URQW,
     ":start\nbtn quit, Leave the game\nbtn END,Stop\nend\n",
     ""},
    {"btn_to_a_word_near_a_command", MODE_URQW,
     ":start\nbtn quitt, Leave\nend\n",
     R"x(t.qst:2:5: warning: there is no location ":quitt" in the script: this button leads nowhere [unknown-location]
btn quitt, Leave
    ^
t.qst:2:5: note: add the location ":quitt", or correct the name
)x"},
    {"if_branches_read_apart", MODE_URQW,
     ":start\nif f = 0 then btn room, Next & f = 1 else btn room, Close\nend\n:room\nend\n",
     ""},
    {"if_branch_with_a_btn_inside_an_assignment", MODE_URQW,
     ":start\nif f = 0 then f = 1 btn room, Next else btn room, Close\nend\n:room\nend\n",
     R"x(t.qst:2:21: warning: "btn room" stands inside an assignment, with no "&" before it: it becomes part of the expression, so nothing is assigned and the jump never happens [missing-ampersand]
if f = 0 then f = 1 btn room, Next else btn room, Close
                    ^
t.qst:2:21: note: write "& btn room"
)x"},
    {"comment_in_a_javascript_string", MODE_URQW,
     ":start\njavascript = \"f(1);\"\nend\n",
     R"x(t.qst:2:19: warning: ";" inside this JavaScript starts a comment for mavo: it cuts the line at the ";", the closing quote and any "&" after it included, so the code becomes "javascript = "f(1)", where UrqW runs it whole [comment-in-text]
javascript = "f(1);"
                  ^
t.qst:2:19: note: JavaScript needs no ";" at the end of its code, and statements can each stand in braces, "{f(1)}{g(2)}" (a "##59$" would reach the code as "&#59;")
)x"},
    {"comment_in_a_string", MODE_URQW,
     ":start\ninstr s = \"a;b\"\nend\n",
     R"x(t.qst:2:13: warning: ";" inside this string starts a comment for mavo: it cuts the line at the ";", the string's closing quote and any "&" after it included, so the statement becomes "instr s = "a", where UrqW keeps the string whole [comment-in-text]
instr s = "a;b"
            ^
t.qst:2:13: note: write "##59$" for a ";" in the string (UrqW shows it as ";"): "instr s = "a##59$b""
)x"},
    {"comment_after_an_assignment", MODE_URQW,
     ":start\nx = 5 ; the count\ns = \"a\" ; the name\nend\n",
     ""},
    {"comment_in_a_string_in_ripurq", MODE_RIPURQ,
     ":start\ninstr s = \"a;b\"\nend\n",
     ""},
    {"did_you_mean_a_cyrillic_letter", MODE_URQW,
     ":crypto\nend\n:start\ngoto \xd1\x81rypto\nend\n",
     R"x(t.qst:4:6: warning: there is no location ":сrypto" in the script: this "goto" leads nowhere, and the game stops here [unknown-location]
goto сrypto
     ^
t.qst:4:6: note: did you mean ":crypto"? "сrypto" mixes Latin and Cyrillic letters
)x"},
    {"did_you_mean_swapped_letters", MODE_URQW,
     ":Crypto\nend\n:start\nproc cyrpto\nend\n",
     R"x(t.qst:4:6: warning: there is no location ":cyrpto" in the script: this "proc" runs nothing [unknown-location]
proc cyrpto
     ^
t.qst:4:6: note: did you mean ":Crypto"?
)x"},
    {"did_you_mean_nothing_close", MODE_URQW,
     ":crypto\nend\n:start\nmavo cyprto,Go & pln x\nend\n",
     R"x(t.qst:4:1: warning: there is no location ":cyprto" in the script: after the actions the block's "goto cyprto" leads nowhere, and the player is left without buttons [target-not-found]
mavo cyprto,Go & pln x
^
t.qst:4:1: note: add the location ":cyprto", or correct the label
)x"},
    {"did_you_mean_not_for_one_letter", MODE_URQW,
     ":a\nend\n:start\ngoto b\nend\n",
     R"x(t.qst:4:6: warning: there is no location ":b" in the script: this "goto" leads nowhere, and the game stops here [unknown-location]
goto b
     ^
t.qst:4:6: note: add the location ":b", or correct the name
)x"},
    {"did_you_mean_for_an_action_button", MODE_URQW,
     ":crypto\nend\n:start\nmavo crypt,Go & pln x\nend\n",
     R"x(t.qst:4:1: warning: there is no location ":crypt" in the script: after the actions the block's "goto crypt" leads nowhere, and the player is left without buttons [target-not-found]
mavo crypt,Go & pln x
^
t.qst:4:1: note: did you mean ":crypto"?
)x"},
    {"long_line_clipped_around_the_caret", MODE_URQW,
     ":start\npln "
     "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
     "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
     "word; and more text that runs on past the window of the report to the very end of the long line\nend\n",
     R"x(t.qst:2:209: warning: ";" starts a comment for mavo, also inside text: the player sees "012345678901234567890123456789012345678901234567890123456789..." without the rest of the line, where UrqW prints it whole [comment-in-text]
...456789012345678901234567890123456789word; and more text that runs on past the window of the report t...
                                           ^
t.qst:2:209: note: write "##59$" for a ";" that is text: "...456789012345678901234567890123456789word##59$ and more text that runs on past th..."
)x"},
    {"ignored_at_the_end_of_its_line", MODE_URQW,
     ":start\npln Hello; world ;mavo-check: ignore comment-in-text\nend\n",
     ""},
    {"ignore_with_a_misspelt_name", MODE_URQW,
     ":start\npln a; b ;mavo-check: ignore coment-in-text\nend\n",
     R"x(t.qst:2:6: warning: ";" starts a comment for mavo, also inside text: the player sees "a" without the rest of the line, where UrqW prints it whole [comment-in-text]
pln a; b ;mavo-check: ignore coment-in-text
     ^
t.qst:2:6: note: write "##59$" for a ";" that is text: "pln a##59$ b"
t.qst:2:30: warning: "coment-in-text" is not the name of a check: by this name the directive silences nothing [unknown-check-name]
pln a; b ;mavo-check: ignore coment-in-text
                             ^
t.qst:2:30: note: did you mean "comment-in-text"?
)x"},
    {"ignore_with_an_unknown_name", MODE_URQW,
     ":start\n;mavo-check: ignore nosuchthing, unknown-location\ngoto nowhere\nend\n",
     R"x(t.qst:2:21: warning: "nosuchthing" is not the name of a check: by this name the directive silences nothing [unknown-check-name]
;mavo-check: ignore nosuchthing, unknown-location
                    ^
t.qst:2:21: note: the names are listed in "mavo-check --help" and in the README
)x"},
    {"ignore_file_in_the_first_lines", MODE_URQW,
     "; the castle\n;mavo-check: ignore-file unknown-location\n:start\ngoto nowhere\nend\n:b\ngoto away\nend\n",
     ""},
    {"ignore_file_too_far_down", MODE_URQW,
     ":start\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n;mavo-check: ignore-file unknown-location\ngoto nowhere\n"
     "end\n:b\ngoto away\nend\n",
     R"x(t.qst:25:6: warning: there is no location ":away" in the script: this "goto" leads nowhere, and the game stops here [unknown-location]
goto away
     ^
t.qst:25:6: note: add the location ":away", or correct the name
)x"},
    // With no action button mavo writes nothing: its own reading reaches no player.
    {"mavo_reading_left_out_without_action_buttons", MODE_URQW,
     ":start\npln Hello; world\n_____\ngoto nowhere\nend\n",
     R"x(t.qst:4:6: warning: there is no location ":nowhere" in the script: this "goto" leads nowhere, and the game stops here [unknown-location]
goto nowhere
     ^
t.qst:4:6: note: add the location ":nowhere", or correct the name
)x", true},
    {"mavo_reading_kept_with_an_action_button", MODE_URQW,
     ":start\npln Hello; world\nmavo start,Again & pln x\nend\n",
     R"x(t.qst:2:10: warning: ";" starts a comment for mavo, also inside text: the player sees "Hello" without the rest of the line, where UrqW prints it whole [comment-in-text]
pln Hello; world
         ^
t.qst:2:10: note: write "##59$" for a ";" that is text: "pln Hello##59$ world"
)x", true},
};

class Checks : public ::testing::TestWithParam<check_case> {};

TEST_P(Checks, ReportIsExact) {
  const check_case& c = GetParam();
  EXPECT_EQ(gcc_report(c.script, c.mode, LANGUAGE_EN, !c.without_all), c.report);
}

INSTANTIATE_TEST_SUITE_P(Cases, Checks, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<check_case>& info) { return std::string(info.param.name); });

// Each check named in the table fires in one case at least, so that none goes untested.
TEST(Checks, EveryCheckHasAPositiveCase) {
  for (int id = 0; id < CHECK_COUNT; ++id) {
    const std::string tag = std::string("[") + CHECK_NAMES[id] + "]";
    bool fired = false;
    for (const check_case& c : CASES) fired = fired || std::string_view(c.report).find(tag) != std::string_view::npos;
    EXPECT_TRUE(fired) << CHECK_NAMES[id];
  }
}

// Each fix, applied to the script, gives what the note asks for, and the finding it
// mends is gone; "what the fix makes" is the script with every fix applied.
TEST(Checks, FixesMend) {
  const struct {
    const char* script;
    const char* fixed;
  } rows[] = {
      {":start\npln Hello; world\nmavo start,Again & pln x\nend\n",
       ":start\npln Hello##59$ world\nmavo start,Again & pln x\nend\n"},
      {":start\ninstr s = \"a;b\"\nend\n", ":start\ninstr s = \"a##59$b\"\nend\n"},
      {":start\njavascript = \"f(1);\"\nend\n", ":start\njavascript = \"f(1)\"\nend\n"},
      {":start\njavascript = \"f(1); g(2)\"\nend\n", nullptr},  // no mechanical fix
      {":crypto\nend\n:start\ngoto \xd1\x81rypto\nbtn cyrpto, Go\nmavo crypt,Go & pln x\nend\n",
       ":crypto\nend\n:start\ngoto crypto\nbtn crypto, Go\nmavo crypto,Go & pln x\nend\n"},
      {":start\nf1=f1-11 goto check\npln Done. goto check\nend\n:check\nend\n",
       ":start\nf1=f1-11 & goto check\npln Done. & goto check\nend\n:check\nend\n"},
      {":start\npln a\n_____\nmavo start,Go & pln x\nend\n", ":start\npln a\npln _____\nmavo start,Go & pln x\nend\n"},
      {":start\npln a\n\n  \n_b\nmavo start,Go & pln x\nend\n", ":start\npln a\n_b\nmavo start,Go & pln x\nend\n"},
      {":start\nif x THEN mavo start,Go & pln x\nend\n", ":start\nif x then mavo start,Go & pln x\nend\n"},
      {":start\nmavo start,Go & {x=1\nend\n", ":start\nmavo start,Go & {x=1}\nend\n"},
      {":a\nmavo a,c & {\nmavo a,d & {t}\n}\nend\n", nullptr},  // the outer brace took the inner "}"
      {":start\n;mavo-check: ignore unknown-locaton\ngoto nowhere\nend\n",
       ":start\n;mavo-check: ignore unknown-location\ngoto nowhere\nend\n"},
  };
  for (const auto& row : rows) {
    script_reading r;
    check_script(r, script_text(row.script), MODE_URQW);
    std::string fixed(row.script);
    std::vector<const finding*> with_fix;
    for (const finding& f : r.findings)
      if (f.fix_begin != NO_POSITION) with_fix.push_back(&f);
    std::sort(with_fix.begin(), with_fix.end(), [](const finding* a, const finding* b) { return a->fix_begin > b->fix_begin; });
    for (const finding* f : with_fix) fixed.replace(f->fix_begin, f->fix_end - f->fix_begin, finding_text(r, *f, 2));
    if (row.fixed == nullptr) {
      EXPECT_TRUE(with_fix.empty()) << row.script;
      continue;
    }
    EXPECT_EQ(fixed, row.fixed) << row.script;
    // The fixes are whole: none of the findings they mend is left.
    script_reading again;
    check_script(again, script_text(fixed), MODE_URQW);
    for (const finding* f : with_fix)
      for (const finding& g : again.findings) EXPECT_NE(g.id, f->id) << fixed << CHECK_NAMES[g.id];
  }
}

// The Russian texts: the same place and name, the message and note in Russian.
TEST(Checks, RussianMessages) {
  EXPECT_EQ(gcc_report(":start\ngoto nowhere\nend\n", MODE_URQW, LANGUAGE_RU),
            R"x(t.qst:2:6: warning: в сценарии нет локации ":nowhere": этот "goto" никуда не ведёт, и игра здесь остановится [unknown-location]
goto nowhere
     ^
t.qst:2:6: note: добавьте локацию ":nowhere" или исправьте имя
)x");
  // Every check and variant has both texts.
  for (const check_case& c : CASES) {
    for (const report_item& item : items_of(c.script, c.mode, LANGUAGE_RU)) {
      EXPECT_FALSE(item.message.empty()) << c.name;
      EXPECT_FALSE(item.note.empty()) << c.name;
      EXPECT_EQ(item.message.find('%'), std::string::npos) << c.name << ": " << item.message;
    }
  }
}

// The json form: one array of {file, line, column, name, message}, valid JSON
// even where the script's bytes are not UTF-8.
TEST(Checks, JsonForm) {
  std::vector<report_item> items = items_of(":start\ngoto nowhere\nend\n", MODE_URQW, LANGUAGE_EN);
  for (report_item& item : items_of(":start\npln \xcf\xf0\xe8; \xff\nend\n", MODE_URQW, LANGUAGE_EN))
    items.push_back(item);
  const nlohmann::json all = nlohmann::json::parse(format_json(items));
  ASSERT_TRUE(all.is_array());
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0]["file"], "t.qst");
  EXPECT_EQ(all[0]["line"], 2);
  EXPECT_EQ(all[0]["column"], 6);
  EXPECT_EQ(all[0]["name"], "unknown-location");
  EXPECT_EQ(all[0]["message"], items[0].message);
  EXPECT_EQ(all[0]["end_column"], 13);
  EXPECT_EQ(all[0]["severity"], "warning");
  EXPECT_EQ(all[0]["notes"][0]["message"], items[0].note);
  EXPECT_TRUE(all[0]["fixes"].empty());
  EXPECT_EQ(all[1]["name"], "comment-in-text");
  EXPECT_EQ(all[1]["column"], 8);
  EXPECT_EQ(all[1]["end_column"], 9);
  EXPECT_EQ(all[1]["fixes"], nlohmann::json::parse(
      R"([{"column": 8, "end_column": 9, "end_line": 2, "line": 2, "replacement": "##59$"}])"));
  EXPECT_EQ(format_json({}), "[]\n");
  // Written an object at a time, in the layout the JSON library gives the whole
  // array: a quote, a backslash, a control byte and a file name that is not UTF-8.
  items[0].file = "dir\\\"q\x01\xff.qst";
  nlohmann::json whole = nlohmann::json::array();
  for (const report_item& item : items) {
    nlohmann::json notes = nlohmann::json::array(), fixes = nlohmann::json::array();
    for (const report_note& n : item.notes)
      notes.push_back({{"line", n.line}, {"column", n.column}, {"message", n.message}});
    for (const report_fix& x : item.fixes)
      fixes.push_back({{"line", x.line}, {"column", x.column}, {"end_line", x.end_line},
                       {"end_column", x.end_column}, {"replacement", x.replacement}});
    whole.push_back({{"file", item.file}, {"line", item.line}, {"column", item.column},
                     {"end_column", item.end_column}, {"severity", "warning"}, {"name", CHECK_NAMES[item.id]},
                     {"message", item.message}, {"notes", notes}, {"fixes", fixes}});
  }
  EXPECT_EQ(format_json(items), whole.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

// Letter case is folded as interpreters fold it: Latin and Cyrillic, in UTF-8 and
// in cp1251; other bytes stay as they are.
TEST(Checks, LetterCaseFolding) {
  const struct {
    const char* in;
    bool utf8;
    const char* out;
  } rows[] = {
      {"Room_12 GOTO", true, "room_12 goto"},
      {"\xd0\x90\xd0\x9f\xd0\xa0\xd0\xaf\xd0\x81 \xd0\xb0", true, "\xd0\xb0\xd0\xbf\xd1\x80\xd1\x8f\xd1\x91 \xd0\xb0"},
      {"\xc3\x80\xc3\x97\xc3\x9e\xc3\x9f", true, "\xc3\xa0\xc3\x97\xc3\xbe\xc3\x9f"},
      {"\xd0\xd0\x90", true, "\xd0\xd0\xb0"},
      {"\xc0\xdf\xa8\xe0 Z", false, "\xe0\xff\xb8\xe0 z"},
      {"@AZ[`az{ \x7f MAVO_Room LONG NAME", true, "@az[`az{ \x7f mavo_room long name"},
      {"Room \xd0\x90" "BC Def Ghi Jkl", true, "room \xd0\xb0" "bc def ghi jkl"},
  };
  std::string reused = "a longer text than any row";
  for (const auto& row : rows) {
    EXPECT_EQ(fold_case(row.in, row.utf8), row.out) << row.in;
    fold_case_into(row.in, row.utf8, reused);
    EXPECT_EQ(reused, row.out) << row.in;
  }
  // A name that needs no folding is looked up as it is: folding must not change it.
  // Every byte, alone and at each place of a 20-byte name (the 8-byte steps too).
  for (int b = 1; b < 256; ++b) {
    for (std::size_t at = 0; at < 20; at += 3) {
      std::string name(20, 'q');
      name[at] = static_cast<char>(b);
      const bool needs = needs_folding(name);
      EXPECT_EQ(needs, b >= 0x80 || (b >= 'A' && b <= 'Z')) << b << " at " << at;
      if (!needs) {
        EXPECT_EQ(fold_case(name, true), name) << b;
        EXPECT_EQ(fold_case(name, false), name) << b;
      }
    }
  }
}

// " then " and " else " are found wherever they stand, 16 bytes a step or one by one,
// and never at or past the end asked for.
TEST(Checks, FindThen) {
  for (std::size_t pad = 0; pad < 40; ++pad) {
    for (const char* word : {" then ", " else ", " thenx", " tHen "}) {
      const std::string text = std::string(pad, 'x') + " tt" + std::string(pad % 7, 'e') + word + "go\n" + std::string(pad, 'y');
      const std::size_t at = pad + 3 + pad % 7;
      const bool then = std::string_view(word) == " then ";
      const bool other = std::string_view(word) == " else ";
      EXPECT_EQ(find_then(text, 0, text.size(), false), then ? at : text.size()) << pad << word;
      EXPECT_EQ(find_then(text, 0, text.size(), true), then || other ? at : text.size()) << pad << word;
      EXPECT_EQ(find_then(text, 0, at, true), at) << pad << word;
      EXPECT_EQ(find_then(text, at + 1, text.size(), true), text.size()) << pad << word;
    }
  }
}

// The bundled examples play as written, in every dialect.
// The search that starts where its last answer was gives std::upper_bound's answer
// for positions that go forward, stay, jump far, or go back.
TEST(Checks, UpperBoundFromHint) {
  const std::vector<then_span> items = {{3, 0}, {7, 0}, {7, 0}, {8, 0}, {20, 0}, {21, 0}, {40, 0}, {41, 0}, {90, 0}};
  std::vector<std::size_t> asked;
  for (std::size_t p = 0; p < 100; ++p) asked.push_back(p);              // forward, one at a time
  for (std::size_t p = 100; p-- > 0;) asked.push_back(p);                // backward
  for (const std::size_t p : {5, 5, 95, 0, 41, 40, 7, 8, 2, 90, 89}) asked.push_back(p);  // jumps
  std::size_t hint = 0;
  for (const std::size_t p : asked) {
    const auto expected = std::upper_bound(items.begin(), items.end(), p,
                                           [](std::size_t q, const then_span& t) { return q < t.then; }) - items.begin();
    EXPECT_EQ(upper_bound_from(items, &then_span::then, p, hint), static_cast<std::size_t>(expected)) << p;
  }
  const std::vector<then_span> none;
  std::size_t empty_hint = 0;
  EXPECT_EQ(upper_bound_from(none, &then_span::then, 5, empty_hint), 0u);
}

// Buttons inside the actions of buttons are read in rounds, one for each depth, so
// their findings come in as many runs out of the script's order: a few are merged,
// many sorted. Either way the report follows the lines, each button once.
TEST(Checks, FindingsInOrderOfTheScript) {
  for (const int depth : {3, 40}) {
    std::string script = ":start\n";
    for (int line = 0; line < 3; ++line) {
      for (int level = 0; level < depth; ++level)
        script += "mavo nowhere" + std::to_string(line) + "_" + std::to_string(level) + ",b & ";
      script += "pln deep\n";
    }
    const std::vector<report_item> items = items_of(script, MODE_URQW, LANGUAGE_EN);
    ASSERT_EQ(items.size(), static_cast<std::size_t>(3 * depth)) << depth;
    for (std::size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].id, TARGET_NOT_FOUND);
      EXPECT_EQ(items[i].line, 2 + i / static_cast<std::size_t>(depth)) << depth << " " << i;
      if (i % static_cast<std::size_t>(depth) != 0) EXPECT_GT(items[i].column, items[i - 1].column) << depth << " " << i;
    }
  }
}

TEST(Checks, ExamplesAreClean) {
  for (const char* name : {"castle.qst", "zamok.qst"}) {
    const std::string bytes = file_bytes(fs::path(MAVO_SOURCE_DIR) / "examples" / name);
    ASSERT_FALSE(bytes.empty()) << name;
    for (const check_mode mode : {MODE_URQW, MODE_RIPURQ, MODE_DOSURQ, MODE_AKURQ})
      EXPECT_EQ(gcc_report(bytes, mode), "") << name << " in " << MODE_NAMES[mode];
  }
}

// ---- the checker's reading is the expansion's ----

// What mavo wrote for the script: the result before its end sentinel, the number
// of statements expanded and of blocks made.
struct mavo_result {
  script_text text;
  std::uint64_t expanded = 0, blocks = 0;
};

mavo_result run_mavo(std::string_view script) {
  mavo_result out;
  out.text = script_text(script);
  text_decoder decoder;
  decode_text_mode(decoder, out.text, 0);
  finish_text_mode(decoder, out.text);
  out.expanded = transform_script(out.text, &out.blocks);
  return out;
}

// For each keyword the checker read, the statement the expansion must have written
// in its place, in the order of the result: "btn <block>,<caption>" for an action
// button, its label and then ",<caption>" for one without actions; the counts
// must agree.
// Yields the number of action buttons compared.
std::uint64_t expect_same_reading(std::string_view script, const std::string& what) {
  std::vector<button_view> views;
  script_reading r;
  r.views = &views;
  check_script(r, script_text(script), MODE_URQW);
  const mavo_result mavo = run_mavo(script);
  std::uint64_t expanded = 0, blocks = 0;
  std::size_t at = 0;
  for (const button_view& v : views) {
    const bool actions = v.kind == CUT_LINE || v.kind == CUT_BRACE;
    if (!actions && v.kind != CUT_PLAIN) continue;
    expanded += actions;
    // A statement without actions keeps its text after the keyword, blanks before the
    // label included: its label, then its "," and caption. Only its keyword is
    // rewritten, so a keyword inside its label (one that runs over lines) is read
    // next: the search goes on from the label.
    // A keyword within it is rewritten in turn: the label is compared up to one.
    const std::size_t inner = v.label.find("mavo ");
    const std::vector<std::string> parts =
        actions                      ? std::vector<std::string>{"btn " + v.block + "," + v.caption}
        : inner == std::string::npos ? std::vector<std::string>{v.label, "," + v.caption}
                                     : std::vector<std::string>{v.label.substr(0, inner)};
    std::size_t from = at;
    for (const std::string& part : parts) {
      const std::size_t found = mavo.text.find(part, from);
      if (found == std::string::npos) {
        ADD_FAILURE() << what << ": \"" << part << "\" is not in mavo's result after byte " << from;
        return expanded;
      }
      if (from == at) at = actions ? found + part.size() : found + 1;
      from = found + part.size();
    }
  }
  for (std::size_t i = 0; i < r.new_blocks.size(); ++i) ++blocks;
  EXPECT_EQ(expanded, mavo.expanded) << what;
  EXPECT_EQ(blocks, mavo.blocks) << what;
  return expanded;
}

TEST(SameReading, GeneratedRooms) {
  for (std::uint64_t seed = 1; seed <= 5; ++seed)
    EXPECT_GT(expect_same_reading(generate_rooms(60, seed), "rooms, seed " + std::to_string(seed)), 300u);
}

TEST(SameReading, AdversarialPatterns) {
  for (const char* const* name = PATTERN_NAMES; *name != nullptr; ++name) {
    std::string script;
    ASSERT_TRUE(generate_pattern(*name, 300, script));
    expect_same_reading(script, *name);
  }
}

TEST(SameReading, FuzzCorpus) {
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(MAVO_SOURCE_DIR) / "fuzz" / "corpus")) {
    expect_same_reading(file_bytes(entry.path()), entry.path().filename().string());
    ++files;
  }
  EXPECT_GT(files, 10u);
}

}  // namespace
