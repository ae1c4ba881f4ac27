# Checks the resources of LanFeedInstaller.exe by decompiling them with windres,
# and that it is a GUI-subsystem program. Run with -DRC=<windres>
# -DOBJDUMP=<objdump> -DPROGRAM=<exe>.
execute_process(COMMAND ${RC} -i ${PROGRAM} -O rc OUTPUT_VARIABLE rc_text RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${RC} failed: ${rc}")
endif()
# Icon bitmaps are long and of no interest here.
string(REGEX REPLACE "\n  0x[^\n]*" "" rc_text "${rc_text}")

set(failures "")
function(expect_regex what regex)
  if(NOT rc_text MATCHES "${regex}")
    set(failures "${failures}\n  missing ${what}" PARENT_SCOPE)
  endif()
endfunction()

expect_regex("string 103" "\n  103, \"LanFeed_Installer\"\n")
expect_regex("string 109" "\n  109, \"LANFEED_INSTALLER\"\n")
expect_regex("icon 107" "\n107 14 /\\* RT_GROUP_ICON \\*/\n")
expect_regex("icon 108" "\n108 14 /\\* RT_GROUP_ICON \\*/\n")
expect_regex("menu 109"
  "\n109 MENU\nBEGIN\n  POPUP \"&File\"\n  BEGIN\n    MENUITEM \"E&xit\", 105\n  END\n  POPUP \"&Help\"\n  BEGIN\n    MENUITEM \"&About ...\", 104\n  END\nEND\n")
expect_regex("accelerators 109"
  "\n109 ACCELERATORS\nBEGIN\n  \"\\?\", 104, ALT\n  \"/\", 104, ALT\nEND\n")
expect_regex("dialog 103" "\n103 DIALOGEX [^\n]*\n")
expect_regex("About caption" "CAPTION \"About LanFeed_Installer\"\n")
expect_regex("About font" "FONT 8, \"MS Shell Dlg\"")
expect_regex("About icon" "\n  ICON 107, ")
expect_regex("About text" "\"LanFeed_Installer, Version 1.0\"")
expect_regex("About OK button" "PUSHBUTTON \"OK\", 1, ")
expect_regex("version record 1" "\n1 VERSIONINFO\n FILEVERSION 1, 1, 0, 2\n PRODUCTVERSION 1, 1, 0, 2\n")
expect_regex("file description" "VALUE \"FileDescription\", \"LanFeedPlugin installer.\"")
expect_regex("product name" "VALUE \"ProductName\", \"LanFeedPlugin Installer\"")
expect_regex("file version text" "VALUE \"FileVersion\", \"1, 1, 0, 2\"")
expect_regex("product version text" "VALUE \"ProductVersion\", \"1, 1, 0, 2\"")
expect_regex("manifest 1" "\n1 24 /\\* RT_MANIFEST \\*/\n")
expect_regex("asInvoker" "requestedExecutionLevel level=\"\"asInvoker\"\" uiAccess=\"\"false\"\"")

execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE pe RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT pe MATCHES "Subsystem[ \t]+00000002[ \t]+\\(Windows GUI\\)")
  set(failures "${failures}\n  not a Windows GUI program")
endif()

if(failures)
  message(FATAL_ERROR "LanFeedInstaller resources:${failures}")
endif()
message(STATUS "LanFeedInstaller resources as expected")
