# Writes the text file IN as one C++ raw string literal into OUT
# (cmake -DIN=... -DOUT=... -P embed_text.cmake).  Line ends are written as
# "\n"; the code that includes OUT decides the line ends it hands out.
file(READ ${IN} text)
string(REPLACE "\r" "" text "${text}")
if(text MATCHES "\\)ocl\"")
  message(FATAL_ERROR "${IN} contains the raw string delimiter )ocl\"")
endif()
file(WRITE ${OUT}.tmp "R\"ocl(${text})ocl\"\n")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
