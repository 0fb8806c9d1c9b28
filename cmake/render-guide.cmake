# Renders README.md into guide.html, one page that stands alone: GitHub's
# Markdown with its tables, a small inline style, and no links to files the
# package does not hold (their text stays).
#   cmake -DCMARK=... -DINPUT=README.md -DOUTPUT=guide.html -DVERSION=1.0.0 -P render-guide.cmake
execute_process(
  COMMAND ${CMARK} --extension table --extension autolink --extension strikethrough ${INPUT}
  OUTPUT_VARIABLE body
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmark-gfm could not render ${INPUT}")
endif()
string(REGEX REPLACE "<a href=\"[^\":#]*\">([^<]*(<code>[^<]*</code>)?[^<]*)</a>" "\\1" body "${body}")
file(WRITE ${OUTPUT} "<!DOCTYPE html>
<html lang=\"en\">
<head>
<meta charset=\"utf-8\">
<title>QELKOPHV ${VERSION}</title>
<style>
body { font-family: sans-serif; max-width: 60em; margin: 2em auto; padding: 0 1em; line-height: 1.45; }
pre { background: #f4f4f4; padding: 0.6em; overflow-x: auto; }
code { font-family: monospace; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #bbb; padding: 0.25em 0.5em; text-align: left; vertical-align: top; }
th { background: #eee; }
</style>
</head>
<body>
<p><small>QELKOPHV ${VERSION}</small></p>
${body}</body>
</html>
")
