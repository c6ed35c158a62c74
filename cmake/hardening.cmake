# Hardened as Debian builds its own packages (dpkg-buildflags with
# hardening=+all): position-independent, stack protector, checked libc calls,
# relocations read-only and bound at start. _FORTIFY_SOURCE needs the optimiser
# and does not mix with the sanitizers, so Debug and sanitized builds go without
# it. These are the flags of GCC and Clang on ELF systems (Linux); a Windows
# build has its own.
set(TALVERN_FORTIFIED
    "$<AND:$<CONFIG:Release,RelWithDebInfo,MinSizeRel>,$<NOT:$<BOOL:${TALVERN_SANITIZE}>>>")
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported()
if(NOT WIN32 AND NOT APPLE AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    include(CheckCXXCompilerFlag)
    add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security
                        "$<${TALVERN_FORTIFIED}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
    # Not every processor has these (-fcf-protection is x86 only).
    foreach(flag -fstack-clash-protection -fcf-protection)
        string(MAKE_C_IDENTIFIER "TALVERN_HAS${flag}" supported)
        check_cxx_compiler_flag(${flag} ${supported})
        if(${supported})
            add_compile_options(${flag})
        endif()
    endforeach()
    add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
