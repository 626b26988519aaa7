; Windows installer of the SANvero Connector (Inno Setup 6.3 or later). See docs/deployment.md.
;
; Build the staging folder first (on Linux for the MinGW cross build: scripts/windows/stage.sh):
;   cmake --install build --config Release --prefix build\staging
;   windeployqt --release --compiler-runtime build\staging\bin\sanvero-connector.exe
; then, from the repository root:
;   iscc /DAppVersion=2.0.0 /DSevenZipDir="C:\Program Files\7-Zip" packaging\windows\sanvero-connector.iss
;
; Defines (/Dname=value on the iscc command line):
;   AppVersion   version shown in Windows' list of programs
;   AppExeName   file name of the connector's executable in StagingDir\bin
;   StagingDir   the install prefix holding bin\ with the executable, the Qt DLLs and plugin folders
;   SevenZipDir  folder of a 7-Zip 25 (or later) of the same bitness: 7z.exe, with 7z.dll unless 7z.exe is
;                the standalone console build; License.txt. Default: StagingDir\bin\7-Zip
;   Arch         x64 (default) or x86: must match the connector's build and the installed Access ODBC driver

#ifndef AppVersion
  #define AppVersion "2.0.0"
#endif
#ifndef AppExeName
  #define AppExeName "sanvero-connector.exe"
#endif
#ifndef StagingDir
  #define StagingDir "..\..\build\staging"
#endif
#ifndef SevenZipDir
  #define SevenZipDir StagingDir + "\bin\7-Zip"
#endif
#ifndef Arch
  #define Arch "x64"
#endif
#if Arch == "x64"
  #define Bits "64"
#elif Arch == "x86"
  #define Bits "32"
#else
  #error Arch must be x64 or x86
#endif

#define AppName "SANvero Connector"
#define ConfigFile "connector.json"

[Setup]
AppId={{1FE7142D-D30A-4CA9-9FCE-65E2FEB8BF40}
AppName={#AppName}
AppVersion={#AppVersion}
AppPublisher=SANvero
DefaultDirName={autopf}\{#AppName}
DefaultGroupName={#AppName}
DisableProgramGroupPage=yes
; Qt 6 runs on Windows 10 1809 (build 17763) and later.
MinVersion=10.0.17763
; Program Files and the all-users Startup folder need administrator rights; it also keeps the configuration
; file out of reach of the operator's account.
PrivilegesRequired=admin
#if Arch == "x64"
ArchitecturesAllowed=x64compatible
ArchitecturesInstallIn64BitMode=x64compatible
#endif
; The self-update check downloads the installer under this name.
OutputBaseFilename=sanvero-connector-setup
OutputDir=..\..\build\installer
Compression=lzma2
SolidCompression=yes
WizardStyle=modern
; A running connector holds its executable and DLLs open: the Restart Manager closes it, in every session, and
; starts it again after the update with its configuration argument (the connector registers for that).
CloseApplications=yes
RestartApplications=yes
UninstallDisplayIcon={app}\{#AppExeName}
UninstallDisplayName={#AppName}
SetupIconFile=sanvero-connector.ico

[Tasks]
Name: "startatlogon"; Description: "Start the connector when a user logs on"; GroupDescription: "Start:"

[Files]
Source: "{#StagingDir}\bin\{#AppExeName}"; DestDir: "{app}"; Flags: ignoreversion
; Qt DLLs and plugin folders as windeployqt left them; the SQL drivers and 7-Zip are picked below. A
; configuration in the staging folder is left out: copied with ignoreversion it would replace the clinic's own.
Source: "{#StagingDir}\bin\*"; DestDir: "{app}"; \
    Excludes: "\{#AppExeName},\sqldrivers\*,\7-Zip\*,\vc_redist*.exe,\{#ConfigFile}"; \
    Flags: ignoreversion recursesubdirs createallsubdirs
; The polysomnography database is reached through Qt's ODBC driver; without it every registration fails.
Source: "{#StagingDir}\bin\sqldrivers\qsqlodbc.dll"; DestDir: "{app}\sqldrivers"; Flags: ignoreversion
; Used only when the configuration asks for the SQLite database backend.
Source: "{#StagingDir}\bin\sqldrivers\qsqlite.dll"; DestDir: "{app}\sqldrivers"; \
    Flags: ignoreversion skipifsourcedoesntexist
; The connector looks for 7-Zip only in the folder "7-Zip" beside its executable.
Source: "{#SevenZipDir}\7z.exe"; DestDir: "{app}\7-Zip"; Flags: ignoreversion
; An installed 7-Zip's 7z.exe needs its 7z.dll; the standalone console build has none.
Source: "{#SevenZipDir}\7z.dll"; DestDir: "{app}\7-Zip"; Flags: ignoreversion skipifsourcedoesntexist
Source: "{#SevenZipDir}\License.txt"; DestDir: "{app}\7-Zip"; Flags: ignoreversion skipifsourcedoesntexist
; The clinic's configuration survives updates and removal.
Source: "{#ConfigFile}"; DestDir: "{app}"; Flags: onlyifdoesntexist uninsneveruninstall
; windeployqt --compiler-runtime leaves the MSVC runtime installer here; MinGW builds carry their runtime DLLs.
Source: "{#StagingDir}\bin\vc_redist.{#Arch}.exe"; DestDir: "{tmp}"; Flags: deleteafterinstall skipifsourcedoesntexist

[Icons]
; A shortcut rather than a Run registry value: it sets the working folder, where the window icon is looked up.
Name: "{commonstartup}\{#AppName}"; Filename: "{app}\{#AppExeName}"; Parameters: """{app}\{#ConfigFile}"""; \
    WorkingDir: "{app}"; Tasks: startatlogon
Name: "{group}\{#AppName}"; Filename: "{app}\{#AppExeName}"; Parameters: """{app}\{#ConfigFile}"""; \
    WorkingDir: "{app}"
; Notepad with administrator rights (set on the shortcut below): an operator's account cannot save under Program Files.
Name: "{group}\Edit configuration"; Filename: "{sys}\notepad.exe"; Parameters: """{app}\{#ConfigFile}"""; \
    AfterInstall: RunShortcutAsAdministrator(ExpandConstant('{group}\Edit configuration.lnk'))

[Run]
Filename: "{tmp}\vc_redist.{#Arch}.exe"; Parameters: "/install /quiet /norestart"; \
    StatusMsg: "Installing the Microsoft Visual C++ runtime..."; Check: VcRedistShipped; Flags: waituntilterminated
Filename: "{app}\{#AppExeName}"; Parameters: """{app}\{#ConfigFile}"""; WorkingDir: "{app}"; \
    Description: "Start the connector now"; Flags: nowait postinstall skipifsilent runasoriginaluser

[UninstallRun]
; Asks the connectors running from this installation, in every session, to close (through the Restart Manager), so
; their files can be removed; a request they answer, not a forced end of every program of that name.
Filename: "{app}\{#AppExeName}"; Parameters: "--close-running"; Flags: runhidden waituntilterminated; \
    RunOnceId: "CloseConnectors"

[Code]
const
  AccessDriverKey = 'SOFTWARE\ODBC\ODBCINST.INI\Microsoft Access Driver (*.mdb, *.accdb)';

{ Sets "Run as administrator" on a shortcut: the RunAsUser bit (0x2000) of the link flags, bytes 21 to 24 of the
  shell link header, whose first four bytes are its size, 0x4C. }
procedure RunShortcutAsAdministrator(Link: String);
var
  Bytes: AnsiString;
begin
  if LoadStringFromFile(Link, Bytes) and (Length(Bytes) > 24) and (Ord(Bytes[1]) = $4C) then
  begin
    Bytes[22] := Chr(Ord(Bytes[22]) or $20);
    if not SaveStringToFile(Link, Bytes, False) then
      Log('Cannot mark ' + Link + ' to run as administrator');
  end
  else
    Log('Not a shell link: ' + Link);
end;

function VcRedistShipped(): Boolean;
begin
  Result := FileExists(ExpandConstant('{tmp}\vc_redist.{#Arch}.exe'));
end;

{ In 64-bit install mode HKLM is the 64-bit registry view, otherwise the 32-bit one: the view in which the
  connector, built for the same architecture, finds its ODBC drivers. }
function AccessDriverInstalled(): Boolean;
begin
  Result := RegKeyExists(HKLM, AccessDriverKey);
end;

function InitializeSetup(): Boolean;
begin
  Result := True;
  if not AccessDriverInstalled() then
    Result := SuppressibleMsgBox(
      'The {#Bits}-bit Microsoft Access ODBC driver ("Microsoft Access Driver (*.mdb, *.accdb)") is not installed.' + #13#10 + #13#10 +
      'The connector needs it to register polysomnography patients. Install the {#Bits}-bit Microsoft Access ' +
      'Database Engine redistributable, before or after this setup.' + #13#10 + #13#10 +
      'Continue the installation?',
      mbConfirmation, MB_YESNO, IDYES) = IDYES;
end;
