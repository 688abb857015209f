; The Windows installer: Brumlis for the user alone, no administrator needed. The build
; (cmake/windows-dist.cmake) passes
;   VERSION  the program's version          STAGE   the staged folder (stage.cmake)
;   OUTFILE  the installer to write         INCLUDES the folder of install.nsh and uninstall.nsh
; and reads every script as UTF-8 (-INPUTCHARSET UTF8): the word lists have å, ä and ö.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Brumlis"

Name "Brumlis ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Brumlis"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
; The build's own time is not written into the installer, so two builds of it are the same.
SetDateSave off

!include "MUI2.nsh"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\brumlis.exe"
!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Swedish"

Section "Brumlis"
    !include "${INCLUDES}/install.nsh"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; The shortcut starts in the installed folder, where the words are.
    SetOutPath "$INSTDIR"
    CreateShortcut "$SMPROGRAMS\Brumlis.lnk" "$INSTDIR\brumlis.exe"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Brumlis"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Brumlis"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\brumlis.exe"
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" ${BRUMLIS_SIZE_KB}
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Exactly what was installed goes: a file the user added, and so its folder, stays.
Section "Uninstall"
    !include "${INCLUDES}/uninstall.nsh"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\Brumlis.lnk"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
