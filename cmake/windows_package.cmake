# The Windows package: one folder with the three programs and everything they
# load that Windows does not have: the Qt and MinGW runtime DLLs, the Qt
# plugins, Qt's Chinese translations and the README. `cpack -G ZIP` in the
# build folder makes fatotal-<version>-win64.zip of it.

# The window is a GUI program: no console window opens beside it.
set_target_properties(fatotal PROPERTIES WIN32_EXECUTABLE ON)

install(TARGETS fatotal fatotal-rebuild fatotal-demo RUNTIME DESTINATION .)
install(FILES $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
        DESTINATION .)
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION plugins/platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION plugins/styles)

# The compiler knows where its own runtime lies. Debian ships it with its
# symbols, which make up most of its size and which nobody reads on Windows.
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE dll_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${dll_path}" OR NOT EXISTS "${dll_path}")
        message(FATAL_ERROR "The MinGW runtime ${dll} was not found")
    endif()
    install(FILES ${dll_path} DESTINATION .)
    install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
                                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${dll}\")")
endforeach()

# Qt looks for plugins and translations below the prefix; here the prefix is
# the program's own folder.
file(WRITE ${CMAKE_BINARY_DIR}/qt.conf "[Paths]\nPrefix = .\n")
install(FILES ${CMAKE_BINARY_DIR}/qt.conf DESTINATION .)

# Qt's own words (dialog buttons, the file dialog) in Chinese. A Qt for
# Windows built without its translations can take Debian's: .qm files are
# the same on every system.
find_file(FATOTAL_QTBASE_ZH_CN qtbase_zh_CN.qm
          PATHS ${QT6_INSTALL_PREFIX}/translations /usr/share/qt6/translations
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(FATOTAL_QTBASE_ZH_CN)
    install(FILES ${FATOTAL_QTBASE_ZH_CN} DESTINATION translations)
else()
    message(WARNING "qtbase_zh_CN.qm not found (Debian: qt6-translations-l10n); "
                    "the package's Qt dialogs will speak English")
endif()

# A README for Windows users, with Windows line ends; README.md speaks of
# building on Debian and shows pictures that the zip does not carry.
configure_file(${PROJECT_SOURCE_DIR}/packaging/README-windows.txt
               ${CMAKE_BINARY_DIR}/README-windows.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/README-windows.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME fatotal-${PROJECT_VERSION}-win64)
set(CPACK_STRIP_FILES ON)
include(CPack)
