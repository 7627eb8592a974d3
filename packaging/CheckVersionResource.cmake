# CTest: Bootwarden.exe carries the project version in its version resource, both the numbers that
# Windows compares and shows in the file's Details and the FileVersion and ProductVersion texts.
# Arguments: -DEXE, -DVERSION (four dotted numbers).
cmake_minimum_required(VERSION 3.16)

# The numbers: the fixed part (VS_FIXEDFILEINFO) begins with the signature 0xFEEF04BD, then the structure
# version, the file version and the product version, two DWORDs each, most significant first, every
# DWORD little-endian.
file(READ "${EXE}" hex HEX)
string(FIND "${hex}" "bd04effe" signature)
math(EXPR oddStart "${signature} % 2")
if(signature EQUAL -1 OR oddStart)
    message(FATAL_ERROR "${EXE} has no version resource")
endif()

function(dword_at index out)
    math(EXPR start "${signature} + 8 * ${index}")
    string(SUBSTRING "${hex}" ${start} 8 bytes)
    string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" bigEndian "${bytes}")
    math(EXPR value "0x${bigEndian}")
    set(${out} ${value} PARENT_SCOPE)
endfunction()

function(version_at index out)
    dword_at(${index} high)
    math(EXPR next "${index} + 1")
    dword_at(${next} low)
    math(EXPR a "${high} >> 16")
    math(EXPR b "${high} & 0xFFFF")
    math(EXPR c "${low} >> 16")
    math(EXPR d "${low} & 0xFFFF")
    set(${out} "${a}.${b}.${c}.${d}" PARENT_SCOPE)
endfunction()

version_at(2 fileVersion)
version_at(4 productVersion)

# The texts: the value follows its name among the UTF-16 strings of the file.
file(STRINGS "${EXE}" texts ENCODING UTF-16LE REGEX "^(FileVersion|ProductVersion|[0-9]+(\\.[0-9]+)*)$")
function(text_after name out)
    list(FIND texts "${name}" at)
    if(at EQUAL -1)
        set(${out} "(no ${name} text)" PARENT_SCOPE)
        return()
    endif()
    math(EXPR at "${at} + 1")
    list(GET texts ${at} value)
    set(${out} "${value}" PARENT_SCOPE)
endfunction()
text_after(FileVersion fileVersionText)
text_after(ProductVersion productVersionText)

set(found "file ${fileVersion}, product ${productVersion}, texts ${fileVersionText} and ${productVersionText}")
if(NOT fileVersion STREQUAL VERSION OR NOT productVersion STREQUAL VERSION OR NOT fileVersionText STREQUAL VERSION
   OR NOT productVersionText STREQUAL VERSION)
    message(FATAL_ERROR "The version resource of ${EXE} does not say ${VERSION}: ${found}")
endif()
message(STATUS "Version resource: ${found}")
