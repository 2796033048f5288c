# Writes the desktop entry at install time, so its Exec key runs the program where this install puts
# it, also when the prefix is given to the install rather than to the configure step. Expects
# ZORVEL_APP_ID, ZORVEL_BINDIR, ZORVEL_ENTRY_TEMPLATE and ZORVEL_ENTRY_OUTPUT.
if(IS_ABSOLUTE "${ZORVEL_BINDIR}")
  set(program "${ZORVEL_BINDIR}/zorvel-desktop")
else()
  set(program "${CMAKE_INSTALL_PREFIX}/${ZORVEL_BINDIR}/zorvel-desktop")
endif()
# The Exec key's own rules: a literal percent sign is doubled; a path with a reserved character is
# quoted, with '"', '`', '$' and '\' escaped inside the quotes; and the key's value is a string, in
# which a backslash is escaped once more.
string(REPLACE "%" "%%" program "${program}")
if(program MATCHES "[ \t\n\"'\\\\><~|&;$*?#()`]")
  string(REPLACE "\\" "\\\\" program "${program}")
  string(REPLACE "\"" "\\\"" program "${program}")
  string(REPLACE "`" "\\`" program "${program}")
  string(REPLACE "$" "\\$" program "${program}")
  set(program "\"${program}\"")
  string(REPLACE "\\" "\\\\" program "${program}")
endif()
set(ZORVEL_DESKTOP_EXEC "${program}")
configure_file("${ZORVEL_ENTRY_TEMPLATE}" "${ZORVEL_ENTRY_OUTPUT}" @ONLY)
