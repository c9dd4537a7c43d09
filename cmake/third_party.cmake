# The header-only libraries come from Debian. The cross compiler must not see
# /usr/include as a whole (glibc headers would shadow mingw's), so it gets a
# folder holding links to just these libraries' own include folders.
set(NIVALTO_THIRD_PARTY_INCLUDE "${CMAKE_BINARY_DIR}/third_party_include")
file(MAKE_DIRECTORY "${NIVALTO_THIRD_PARTY_INCLUDE}")
foreach(lib nlohmann toml++)
  if(NOT EXISTS "/usr/include/${lib}")
    message(FATAL_ERROR "/usr/include/${lib} is missing: run scripts/setup")
  endif()
  file(CREATE_LINK "/usr/include/${lib}" "${NIVALTO_THIRD_PARTY_INCLUDE}/${lib}" SYMBOLIC)
endforeach()

add_library(nivalto_third_party INTERFACE)
target_include_directories(nivalto_third_party SYSTEM INTERFACE "${NIVALTO_THIRD_PARTY_INCLUDE}")
# TOML 1.1 features (newlines in inline tables, \e and \xHH escapes, optional seconds).
target_compile_definitions(nivalto_third_party INTERFACE TOML_ENABLE_UNRELEASED_FEATURES=1
                                                         TOML_EXCEPTIONS=0)
