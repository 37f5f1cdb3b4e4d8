# Writes the desktop entry with the installed program's full path and
# installs it; run by "cmake --install" (CMakeLists.txt sets the names).
set(program "${CMAKE_INSTALL_PREFIX}/${TOLVANE_BINDIR}/tolvane")
get_filename_component(program "${program}" ABSOLUTE)

# Exec takes the path as one quoted argument where it holds a character that
# the desktop entry format reserves; inside the quotes ", `, $ and \ are
# escaped with a backslash, and every backslash is doubled once more as the
# format's string escape.
set(exec "${program}")
if(exec MATCHES "[] \t\n\"'\\\\><~|&;$*?#()`]")
    string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" exec "${exec}")
    string(REPLACE "\\" "\\\\" exec "${exec}")
    set(exec "\"${exec}\"")
endif()

file(READ "${TOLVANE_ENTRY_SOURCE}" entry)
string(REPLACE "@EXEC@" "${exec}" entry "${entry}")
string(REPLACE "@PROGRAM@" "${program}" entry "${entry}")
file(WRITE "${TOLVANE_ENTRY_BUILT}" "${entry}")
file(INSTALL "${TOLVANE_ENTRY_BUILT}"
     DESTINATION "${CMAKE_INSTALL_PREFIX}/${TOLVANE_DATADIR}/applications")
