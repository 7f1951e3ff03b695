# Writes the simple uppercase mapping of every UTF-16 code unit that has one, from the Unicode
# Character Database's UnicodeData.txt (Debian: unicode-data), as C++ initialisers
# {unit, upper}, in code order: Windows compares names by this mapping, unit by unit.
# Run as: cmake -DUNICODE_DATA=... -DOUTPUT=... -P letter_case_table.cmake
file(READ "${UNICODE_DATA}" content)
string(REPLACE ";" "," content "\n${content}")
set(field "[^,\n]*,")
set(unit "[0-9A-F][0-9A-F][0-9A-F][0-9A-F]")
# The code, eleven fields, then the uppercase mapping: field 12. Four hex digits: the BMP only.
string(REGEX MATCHALL "\n${unit},${field}${field}${field}${field}${field}${field}${field}${field}${field}${field}${field}${unit},"
       lines "${content}")
list(LENGTH lines count)
if(count LESS 1000)
    message(FATAL_ERROR "${UNICODE_DATA} holds only ${count} uppercase mappings")
endif()
set(pairs "")
foreach(line IN LISTS lines)
    string(REGEX MATCH "^\n([0-9A-F]+),.*,([0-9A-F]+),$" matched "${line}")
    string(APPEND pairs "    {0x${CMAKE_MATCH_1}, 0x${CMAKE_MATCH_2}},\n")
endforeach()
file(WRITE "${OUTPUT}.new" "// Generated from ${UNICODE_DATA} by cmake/letter_case_table.cmake.\n${pairs}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
