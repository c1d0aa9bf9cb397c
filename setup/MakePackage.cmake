# cmake -DKIND=product|maker -DBIN=<bin folder> -DSOURCE=<setup folder> -DOUT=<package folder> -P MakePackage.cmake
#
# Lays out an installer package (tools/pkginstall/PackageFormat.h) from what
# the build made: the product's package, or the device maker's sample
# package that names Tarsel as its setup library. Deliverables that are not
# built yet are left out of the product's package.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
set(_manifest "")

# add_file(HOSTFILE NAME TARGET [OPTIONAL])
function(add_file host name target)
  if(NOT EXISTS ${host})
    if(ARGV3 STREQUAL "OPTIONAL")
      return()
    endif()
    message(FATAL_ERROR "package ${KIND}: ${host} is missing")
  endif()
  file(COPY_FILE ${host} ${OUT}/${name})
  set(_manifest "${_manifest}file = ${name} > ${target}\n" PARENT_SCOPE)
endfunction()

if(KIND STREQUAL "product")
  set(_manifest "# The product's package, made by the build.\n")
  string(APPEND _manifest "name = Quilmo Backup\n")
  string(APPEND _manifest "folder = \\Program Files\\Quilmo Backup\n")
  string(APPEND _manifest "setup = QuilmoCESetup.dll\n")
  add_file(${BIN}/QuilmoBackup "Quilmo Backup.exe" "%InstallDir%\\Quilmo Backup.exe")
  add_file(${SOURCE}/quilmobackup.xml "quilmobackup.xml" "%InstallDir%\\quilmobackup.xml")
  add_file(${BIN}/Brenwick "Brenwick.exe" "%InstallDir%\\Brenwick.exe")
  add_file(${BIN}/QuilmoStart "QuilmoStart.exe" "\\Windows\\QuilmoStart.exe" OPTIONAL)
  # The starter lies beside the main program too.
  add_file(${BIN}/QuilmoStart "QuilmoStart.exe" "%InstallDir%\\QuilmoStart.exe" OPTIONAL)
  add_file(${BIN}/QuilmoInit "QuilmoInit.exe" "\\Windows\\QuilmoInit.exe" OPTIONAL)
  # The post-boot popup and the report viewer lie beside the main program
  # (the popup's kiosk restart starts "Quilmo Backup.exe" from its own
  # folder); the popup starts the viewer by bare name, which the device
  # looks up in "\Windows", so the viewer has a copy there too.
  add_file(${BIN}/Halvey "Halvey.exe" "%InstallDir%\\Halvey.exe" OPTIONAL)
  add_file(${BIN}/Ombric "Ombric.exe" "%InstallDir%\\Ombric.exe" OPTIONAL)
  add_file(${BIN}/Ombric "Ombric.exe" "\\Windows\\Ombric.exe" OPTIONAL)
  # The resource library ships as the two candidates the detector chooses from.
  add_file(${BIN}/QuilmoRes.dll "QuilmoResQVGA.dll" "\\Windows\\QuilmoResQVGA.dll")
  add_file(${BIN}/QuilmoRes.dll "QuilmoResVGA.dll" "\\Windows\\QuilmoResVGA.dll")
  add_file(${BIN}/QuilmoCESetup.dll "QuilmoCESetup.dll" "\\Windows\\QuilmoCESetup.dll")
  string(APPEND _manifest
         "shortcut = \\Windows\\Start Menu\\Programs\\Quilmo Backup.lnk > \"%InstallDir%\\Quilmo Backup.exe\"\n"
         "key = HKLM\\SOFTWARE\\Quilmo Software\\Quilmo Backup\n"
         "key = HKLM\\SOFTWARE\\Quilmo Software\\Shared\n"
         "guard = \\Windows\\StartUp\\Merrow.lnk\n"
         "guard = \\Windows\\QuilmoRes.dll\n")
elseif(KIND STREQUAL "maker")
  string(CONCAT _manifest "# A device maker's package: its setup library Tarsel chains to the product's\n"
                          "# setup library (installed before) and to the maker's own.\n")
  string(APPEND _manifest "name = Maker Extras\n")
  string(APPEND _manifest "folder = \\Program Files\\Maker Extras\n")
  string(APPEND _manifest "setup = Tarsel.dll\n")
  add_file(${SOURCE}/maker/quilmobackup.xml "quilmobackup.xml" "%InstallDir%\\quilmobackup.xml")
  add_file(${BIN}/Brenwick "Brenwick.exe" "%InstallDir%\\Brenwick.exe")
  file(COPY_FILE ${BIN}/Tarsel.dll ${OUT}/Tarsel.dll)
  string(APPEND _manifest
         "guard = HKLM\\SOFTWARE\\Quilmo Software\\Quilmo Backup\n"
         "guard = HKLM\\SOFTWARE\\Quilmo Software\\Shared\n"
         "guard = \\Windows\\StartUp\\Merrow.lnk\n"
         "guard = \\Windows\\QuilmoRes.dll\n")
else()
  message(FATAL_ERROR "KIND must be product or maker")
endif()

file(WRITE ${OUT}/package.txt "${_manifest}")
