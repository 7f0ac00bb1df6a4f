# Writes the README's C example (its one ```c block) to OUT, so that the
# example is built and run as the README shows it.
#   cmake -DREADME=README.md -DOUT=readme_example.c -P readme_example.cmake
file(READ "${README}" text)
string(FIND "${text}" "```c\n" begin)
if(begin EQUAL -1)
  message(FATAL_ERROR "${README} has no C example")
endif()
math(EXPR begin "${begin} + 5")
string(SUBSTRING "${text}" ${begin} -1 rest)
string(FIND "${rest}" "```" end)
string(SUBSTRING "${rest}" 0 ${end} code)
file(WRITE "${OUT}" "${code}")
