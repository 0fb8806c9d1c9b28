# Renders the integrator's guide (docs/guide.md) into guide.html, one page
# that stands alone and works offline: GitHub's Markdown with its tables, a
# small inline style, every section heading with an id and a table of
# contents of them at the top, links between sections kept and no links to
# files the package does not hold (their text stays).
#   cmake -DCMARK=... -DINPUT=docs/guide.md -DOUTPUT=guide.html -DVERSION=1.2.0 -P render-guide.cmake
# A section is linked as [Line recovery](#line-recovery): the heading's
# text in lower case, blanks as '-', anything but letters, digits and '-'
# left out.
cmake_minimum_required(VERSION 3.25)
execute_process(
  COMMAND ${CMARK} --extension table --extension autolink --extension strikethrough ${INPUT}
  OUTPUT_VARIABLE body
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmark-gfm could not render ${INPUT}")
endif()
string(REGEX REPLACE "<a href=\"[^\":#]*\">([^<]*(<code>[^<]*</code>)?[^<]*)</a>" "\\1" body "${body}")

# A picture beside the guide goes into the page itself, so that the page
# still stands alone: a data URI, its bytes percent-encoded.
get_filename_component(folder ${INPUT} DIRECTORY)
string(REGEX MATCHALL "<img src=\"[^\":/]+\\.png\"" pictures "${body}")
foreach(picture IN LISTS pictures)
  string(REGEX REPLACE "^<img src=\"(.*)\"$" "\\1" name "${picture}")
  file(READ ${folder}/${name} bytes HEX)
  string(REGEX REPLACE "(..)" "%\\1" bytes "${bytes}")
  string(REPLACE "${picture}" "<img src=\"data:image/png,${bytes}\"" body "${body}")
endforeach()

# Headings of level 2 and 3: ids, and the table of contents.
string(REGEX MATCHALL "<h[23]>[^\n]*</h[23]>" headings "${body}")
set(contents "")
set(ids "")
foreach(heading IN LISTS headings)
  string(REGEX REPLACE "^<h([23])>(.*)</h[23]>$" "\\1" level "${heading}")
  string(REGEX REPLACE "^<h[23]>(.*)</h[23]>$" "\\1" inner "${heading}")
  string(REGEX REPLACE "<[^>]*>" "" text "${inner}")
  string(TOLOWER "${text}" slug)
  string(REPLACE " " "-" slug "${slug}")
  string(REGEX REPLACE "[^a-z0-9-]" "" slug "${slug}")
  if(slug IN_LIST ids)
    message(FATAL_ERROR "${INPUT}: two sections would be #${slug}")
  endif()
  list(APPEND ids ${slug})
  string(REPLACE "${heading}" "<h${level} id=\"${slug}\">${inner}</h${level}>" body "${body}")
  if(level STREQUAL "2")
    string(APPEND contents "<li><a href=\"#${slug}\">${inner}</a></li>\n")
  else()
    string(APPEND contents "<li class=\"sub\"><a href=\"#${slug}\">${inner}</a></li>\n")
  endif()
endforeach()

# Every link to a section must find one.
string(REGEX MATCHALL "href=\"#[^\"]*\"" links "${body}")
foreach(link IN LISTS links)
  string(REGEX REPLACE "^href=\"#(.*)\"$" "\\1" target "${link}")
  if(NOT target IN_LIST ids)
    message(FATAL_ERROR "${INPUT} links to #${target}, which no section is")
  endif()
endforeach()

# The contents go after the first heading (the title) and its first paragraph.
string(FIND "${body}" "<h2" first)
if(first GREATER -1)
  string(SUBSTRING "${body}" 0 ${first} head)
  string(SUBSTRING "${body}" ${first} -1 rest)
  set(body "${head}<nav>\n<h2>Contents</h2>\n<ul class=\"contents\">\n${contents}</ul>\n</nav>\n${rest}")
endif()

file(WRITE ${OUTPUT} "<!DOCTYPE html>
<html lang=\"en\">
<head>
<meta charset=\"utf-8\">
<title>QELKOPHV ${VERSION}: the integrator's guide</title>
<style>
body { font-family: sans-serif; max-width: 60em; margin: 2em auto; padding: 0 1em; line-height: 1.45; }
pre { background: #f4f4f4; padding: 0.6em; overflow-x: auto; }
code { font-family: monospace; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #bbb; padding: 0.25em 0.5em; text-align: left; vertical-align: top; }
th { background: #eee; }
nav { border: 1px solid #ddd; padding: 0 1em; margin: 1em 0; }
ul.contents { list-style: none; padding-left: 0; }
ul.contents li.sub { padding-left: 1.5em; }
</style>
</head>
<body>
<p><small>QELKOPHV ${VERSION}</small></p>
${body}</body>
</html>
")
