# showfile.exe: a console program whose entry is Start itself, PE32 for i386
# or PE32+ for x86-64. The toolchain file names the processor the code is
# for, the least Windows version the image declares, and whether the code is
# optimized at link time.

# Freestanding code: nothing may call into a runtime that isn't there
# (unwinding, stack probes, stack protector), every function is its own
# section for the linker to drop what nobody calls, and the code is for the
# processor named, as small as the compiler makes it.
if(SHOWFILE_WINDOWS_LTO)
  set(SHOWFILE_LTO -flto)
endif()
set(SHOWFILE_WIN32_CODE
  -march=${SHOWFILE_WINDOWS_CPU} -Oz ${SHOWFILE_LTO}
  -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector
  -mno-stack-arg-probe -falign-functions=1 -ffunction-sections -fdata-sections
  -DWIN32_LEAN_AND_MEAN)
target_compile_options(showfile_scan PRIVATE ${SHOWFILE_WIN32_CODE})
target_compile_options(showfile_core PRIVATE ${SHOWFILE_WIN32_CODE})

# Import libraries are made from our own lists of what a program imports, by
# the dlltool of the LLVM that the compiler comes from.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-prog-name=llvm-dlltool
  OUTPUT_VARIABLE SHOWFILE_DLLTOOL_GUESS OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(SHOWFILE_DLLTOOL_DIR "${SHOWFILE_DLLTOOL_GUESS}" DIRECTORY)
find_program(SHOWFILE_DLLTOOL NAMES llvm-dlltool HINTS ${SHOWFILE_DLLTOOL_DIR} REQUIRED)

# showfile_imports(NAME DEF): the import library NAME made from DEF. A list
# names i386's stdcall functions as Function@ArgumentBytes; x86-64 has one
# calling convention and no such decoration, so for it the list is read
# without.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(SHOWFILE_MACHINE i386:x86-64)
else()
  set(SHOWFILE_MACHINE i386)
endif()
function(showfile_imports Name Def)
  set(Library ${CMAKE_CURRENT_BINARY_DIR}/lib${Name}.a)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    file(READ ${Def} List)
    string(REGEX REPLACE "@[0-9]+" "" List "${List}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${Def})
    get_filename_component(Base ${Def} NAME)
    set(Def ${CMAKE_CURRENT_BINARY_DIR}/${Base})
    file(WRITE ${Def} "${List}")
  endif()
  add_custom_command(OUTPUT ${Library}
    COMMAND ${SHOWFILE_DLLTOOL} -m ${SHOWFILE_MACHINE} -k -d ${Def} -l ${Library}
    DEPENDS ${Def}
    COMMENT "Making the import library ${Name}")
  add_custom_target(${Name} DEPENDS ${Library})
  set_target_properties(${Name} PROPERTIES LIBRARY ${Library})
endfunction()
showfile_imports(kernel32_imports ${CMAKE_CURRENT_SOURCE_DIR}/platform/win32/kernel32.def)

# showfile_win32_program(NAME ENTRY IMPORTS [SHARED] SOURCE...): a console
# program (a DLL, given SHARED) with the given entry that links nothing but
# the import library IMPORTS.
# It declares the least Windows it needs as both its OS and its subsystem
# version (an older loader refuses an image that asks for more). ASLR and DEP
# stay on, the symbol table goes, no link time is written (two builds of the
# same sources give the same bytes), and the program is large-address-aware:
# a 32-bit one has 4 GiB of address space under 64-bit Windows, not 2. A
# 64-bit one is placed anywhere in its address space (high-entropy ASLR).
function(showfile_win32_program Name Entry Imports)
  set(Sources ${ARGN})
  if(ARGV3 STREQUAL "SHARED")
    list(REMOVE_AT Sources 0)
    add_library(${Name} SHARED ${Sources})
    set_target_properties(${Name} PROPERTIES PREFIX "")
  else()
    add_executable(${Name} ${Sources})
  endif()
  add_dependencies(${Name} ${Imports})
  get_target_property(Library ${Imports} LIBRARY)
  target_link_libraries(${Name} PRIVATE ${Library})
  target_link_options(${Name} PRIVATE
    ${SHOWFILE_LTO} -nostdlib -fuse-ld=lld -Wl,--entry,${Entry}
    -Wl,--subsystem,console:${SHOWFILE_WINDOWS_VERSION}
    -Wl,--dynamicbase -Wl,--nxcompat -Wl,--large-address-aware -Wl,--no-insert-timestamp
    $<$<EQUAL:${CMAKE_SIZEOF_VOID_P},8>:-Wl,--high-entropy-va>
    -Wl,--gc-sections -Wl,-s)
endfunction()

# The host tool that folds the relocations into .rdata (built with the host's
# own compiler: everything else here is cross-compiled). It is made in tools/,
# as in the sources: a file named like its target, beside the build's
# Makefile, would make the target depend on itself.
find_program(SHOWFILE_HOST_CXX NAMES c++ g++ clang++ REQUIRED)
set(SHOWFILE_FOLD ${CMAKE_CURRENT_BINARY_DIR}/tools/fold_relocs)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/tools)
add_custom_command(OUTPUT ${SHOWFILE_FOLD}
  COMMAND ${SHOWFILE_HOST_CXX} -std=c++17 -O2 -Wall -Wextra -Werror -o ${SHOWFILE_FOLD}
          ${CMAKE_CURRENT_SOURCE_DIR}/tools/fold_relocs.cpp
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tools/fold_relocs.cpp
  COMMENT "Building fold_relocs for the host")
add_custom_target(fold_relocs DEPENDS ${SHOWFILE_FOLD})

# showfile_folded(NAME LINKED): NAME is the linked program with its
# relocations folded into .rdata, which saves the whole file-alignment block
# that .reloc would take.
function(showfile_folded Name Linked)
  # The tool is named by its target, which any directory can wait on, and by
  # its source, so that a change to it folds again.
  add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${Name}
    COMMAND ${SHOWFILE_FOLD} $<TARGET_FILE:${Linked}> ${CMAKE_CURRENT_BINARY_DIR}/${Name}
    DEPENDS ${Linked} fold_relocs ${CMAKE_SOURCE_DIR}/tools/fold_relocs.cpp
    COMMENT "Folding the relocations of ${Name}")
  add_custom_target(${Name}_folded ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${Name})
endfunction()

showfile_win32_program(showfile_linked Start kernel32_imports)
target_link_libraries(showfile_linked PRIVATE showfile_core)
showfile_folded(showfile.exe showfile_linked)

if(SHOWFILE_TESTS)
  enable_testing()
  add_subdirectory(tests/win32)
endif()
