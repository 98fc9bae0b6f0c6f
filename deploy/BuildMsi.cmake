# Builds the Windows Installer package from deploy/TolvexPellanSessionTimers.wxs
# with wixl, then corrects what wixl 0.101 cannot author. Run as
#
#   cmake -DWIXL=... -DMSIBUILD=... -DMSIINFO=... -DSOURCE=....wxs
#         -DVERSION=1.3.0.9 -DRAVITOR_EXE=... -DTRACE_EXE=... -DSERVICE_EXE=...
#         -DICON_FILE=...
#         -DOUTPUT=....msi -P BuildMsi.cmake
#
# The msi target of cmake/Deployment.cmake runs it; tests/deploy runs it again
# with another VERSION to get a package that upgrades the first.
cmake_minimum_required(VERSION 3.25)

foreach(variable WIXL MSIBUILD MSIINFO SOURCE VERSION RAVITOR_EXE TRACE_EXE SERVICE_EXE ICON_FILE
                 OUTPUT)
  if(NOT DEFINED ${variable} OR "${${variable}}" STREQUAL "")
    message(FATAL_ERROR "BuildMsi.cmake needs -D${variable}=...")
  endif()
endforeach()

# wixl opens each source file relative to the .wxs file's folder and rejects
# absolute paths.
get_filename_component(source_dir "${SOURCE}" DIRECTORY)
foreach(variable RAVITOR_EXE TRACE_EXE SERVICE_EXE ICON_FILE)
  if(NOT EXISTS "${${variable}}")
    message(FATAL_ERROR "${variable}: ${${variable}} does not exist")
  endif()
  file(RELATIVE_PATH relative_${variable} "${source_dir}" "${${variable}}")
endforeach()

set(partial "${OUTPUT}.partial")
file(REMOVE "${partial}")
execute_process(
  COMMAND "${WIXL}" -a x64
          -D "Version=${VERSION}"
          -D "RavitorExe=${relative_RAVITOR_EXE}"
          -D "TraceExe=${relative_TRACE_EXE}"
          -D "ServiceExe=${relative_SERVICE_EXE}"
          -D "IconFile=${relative_ICON_FILE}"
          -o "${partial}" "${SOURCE}"
  RESULT_VARIABLE wixl_result
  OUTPUT_VARIABLE wixl_output
  ERROR_VARIABLE wixl_output)
# wixl only warns about attributes it does not know and leaves them out of
# the package: a warning is a package that differs from its source.
if(NOT wixl_result EQUAL 0 OR wixl_output MATCHES "WARNING|CRITICAL")
  file(REMOVE "${partial}")
  message(FATAL_ERROR "wixl failed (${wixl_result}):\n${wixl_output}")
endif()

function(run_query query)
  execute_process(COMMAND "${MSIBUILD}" "${partial}" -q "${query}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0 OR output MATCHES "failed|CRITICAL")
    file(REMOVE "${partial}")
    message(FATAL_ERROR "msibuild failed on: ${query}\n${output}")
  endif()
endfunction()

function(export_table table out)
  execute_process(COMMAND "${MSIINFO}" export "${partial}" ${table}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    file(REMOVE "${partial}")
    message(FATAL_ERROR "msiinfo export ${table} failed:\n${errors}")
  endif()
  set(${out} "${output}" PARENT_SCOPE)
endfunction()

# 1. The message files are REG_EXPAND_SZ, as the program itself writes them:
#    in the Registry table that is a value starting with "#%". Each row is
#    changed by its own key: the program and the service have one each.
# 2. Each event source's key goes as a whole on uninstall, whatever else was
#    written into it: a row named "-" without a value (what WiX writes for
#    RegistryKey ForceDeleteOnUninstall="yes", which wixl ignores; its
#    Action="createAndRemoveOnUninstall" would write "*" instead), in the
#    component of the source's message file.
export_table(Registry registry)
string(REPLACE "\r\n" "\n" registry "${registry}")
string(REPLACE "\n" ";" registry_rows "${registry}")
set(sources 0)
foreach(row IN LISTS registry_rows)
  # Registry, Root, Key, Name, Value, Component_
  if(NOT row MATCHES "^([^\t]+)\t([0-9]+)\t([^\t]*)\t(EventMessageFile|CategoryMessageFile)\t([^\t]*)\t([^\t]+)$")
    continue()
  endif()
  set(row_id "${CMAKE_MATCH_1}")
  set(row_root "${CMAKE_MATCH_2}")
  set(row_key "${CMAKE_MATCH_3}")
  set(row_name "${CMAKE_MATCH_4}")
  set(row_value "${CMAKE_MATCH_5}")
  set(row_component "${CMAKE_MATCH_6}")
  if(NOT row_value MATCHES "^#%")
    run_query("UPDATE `Registry` SET `Value` = '#%${row_value}' WHERE `Registry` = '${row_id}'")
  endif()
  if(row_name STREQUAL "EventMessageFile")
    math(EXPR sources "${sources} + 1")
    run_query("INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('RemoveEventSourceKey${sources}', ${row_root}, '${row_key}', '-', '${row_component}')")
  endif()
endforeach()
if(sources EQUAL 0)
  file(REMOVE "${partial}")
  message(FATAL_ERROR "no Registry row named EventMessageFile in ${SOURCE}")
endif()

# 3. The two ways of starting RAVITOR.exe are components with conditions
#    on the public property START_METHOD, which wixl cannot author. The
#    property is not remembered; a condition that is false while uninstalling
#    would leave the component behind, so both are true then.
run_query("UPDATE `Component` SET `Condition` = 'START_METHOD = \"RunKey\" OR REMOVE ~= \"ALL\"' WHERE `Component` = 'RunKeyStart'")
run_query("UPDATE `Component` SET `Condition` = 'START_METHOD = \"Service\" OR REMOVE ~= \"ALL\"' WHERE `Component` = 'SessionService'")
# A property given on the command line reaches the installation's server
# side, where the components are chosen, only when it is listed as secure.
export_table(Property properties)
if(NOT properties MATCHES "\nSecureCustomProperties\t([^\r\n]*)")
  file(REMOVE "${partial}")
  message(FATAL_ERROR "no SecureCustomProperties in the Property table")
endif()
run_query("UPDATE `Property` SET `Value` = '${CMAKE_MATCH_1};START_METHOD' WHERE `Property` = 'SecureCustomProperties'")

# 4. MajorUpgrade's row finds versions below this one only. Windows Installer
#    compares three fields, so 1.3.0.9 counts as equal to 1.3.0.10, and the
#    newer package would install beside the older. Including the maximum
#    (msidbUpgradeAttributesVersionMaxInclusive) lets it replace it. Attributes
#    is part of the table's key, so the row is deleted and inserted anew.
export_table(Upgrade upgrade)
set(field "([^\t\r\n]*)")
if(NOT upgrade MATCHES "\n(\\{[^\t\r\n]*\\})\t${field}\t${field}\t${field}\t([0-9]+)\t${field}\tWIX_UPGRADE_DETECTED")
  file(REMOVE "${partial}")
  message(FATAL_ERROR "no MajorUpgrade row (WIX_UPGRADE_DETECTED) in the Upgrade table:\n${upgrade}")
endif()
set(columns `UpgradeCode` `VersionMin` `VersionMax` `Language` `Attributes` `Remove`)
set(values "${CMAKE_MATCH_1}" "${CMAKE_MATCH_2}" "${CMAKE_MATCH_3}" "${CMAKE_MATCH_4}"
           "${CMAKE_MATCH_5}" "${CMAKE_MATCH_6}")
list(GET values 4 attributes)
math(EXPR attributes "${attributes} | 0x200")
list(REMOVE_AT values 4)
list(INSERT values 4 "${attributes}")
set(insert_columns "`ActionProperty`")
set(insert_values "'WIX_UPGRADE_DETECTED'")
foreach(index RANGE 5)
  list(GET columns ${index} column)
  list(GET values ${index} value)
  if(value STREQUAL "")
    continue()  # an empty field is a null one
  endif()
  string(APPEND insert_columns ", ${column}")
  if(column STREQUAL "`Attributes`")
    string(APPEND insert_values ", ${value}")
  else()
    string(APPEND insert_values ", '${value}'")
  endif()
endforeach()
run_query("DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'")
run_query("INSERT INTO `Upgrade` (${insert_columns}) VALUES (${insert_values})")

file(RENAME "${partial}" "${OUTPUT}")
