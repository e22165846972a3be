# Turns a Markdown guide into a page that a double click opens in any browser:
#   cmake -DCONVERTER=<cmark-gfm> -DIN=<file.md> -DOUT=<file.html> -DLANG=<en|ru> -P markdown_html.cmake
# The converter (Debian's cmark-gfm, with its table extension, as the guides have
# tables) gives the body; around it go a head that names the character set (the
# guides are UTF-8) and the title (the first heading), and a little style for the
# tables and the code. Links to the guides' Markdown files lead to their pages.
# The same input gives the same bytes every time.
execute_process(COMMAND ${CONVERTER} --to html --extension table --extension autolink ${IN}
                OUTPUT_VARIABLE body RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR body STREQUAL "")
  message(FATAL_ERROR "${CONVERTER} could not convert ${IN} (status ${status})")
endif()
string(REPLACE "href=\"README.md\"" "href=\"README.html\"" body "${body}")
string(REPLACE "href=\"README.ru.md\"" "href=\"README.ru.html\"" body "${body}")
set(title mavo)
if(body MATCHES "<h1>([^<]*)</h1>")
  set(title "${CMAKE_MATCH_1}")
endif()
file(WRITE ${OUT} "<!DOCTYPE html>
<html lang=\"${LANG}\">
<head>
<meta charset=\"utf-8\">
<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">
<title>${title}</title>
<style>
body { max-width: 50em; margin: 1em auto; padding: 0 1em; font-family: sans-serif; line-height: 1.45; }
pre, code { font-family: Consolas, monospace; background: #f4f4f4; }
pre { padding: 0.5em; overflow-x: auto; }
table { border-collapse: collapse; }
th, td { border: 1px solid #ccc; padding: 0.2em 0.5em; vertical-align: top; }
</style>
</head>
<body>
${body}</body>
</html>
")
