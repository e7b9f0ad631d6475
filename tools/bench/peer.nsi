; The same update written for a general-purpose installer system, as the
; benchmark's peer: registry read, description box, settler size check,
; the renames, the two files, a detail log and the completion box.
; Built by tools/benchmark.sh: makensis -DTEXTS=<folder of the two INI files> -DOUT=<exe>
Unicode false
SetCompressor zlib
Name "ValtheriaIII"
Caption "Valtheria III (PL) - Uaktualnienie 1"
OutFile "${OUT}"
RequestExecutionLevel user
ShowInstDetails show
LoadLanguageFile "${NSISDIR}\Contrib\Language files\Polish.nlf"
Page instfiles

Var GAME

Function .onInit
  SetRegView 32
  ReadRegStr $GAME HKLM "SOFTWARE\Korvane Interactive\Valtheria III" "INSTALL_PATH"
  StrCmp $GAME "" 0 found
    MessageBox MB_OK "Brak wpisów gry ValtheriaIII w rejestrze systemowym.$\nZainstaluj grę przed uruchomieniem uaktualnienia."
    Abort
  found:
  MessageBox MB_OK "Uaktualnienie do gry ValtheriaIII (PL)$\n$\nUsunięte błędy:$\n$\n- Błąd sygnalizowany komunikatem o braku pliku Przywódca.ini$\n- Gra wychodziła do systemu z komunikatem Windows:$\n$\nVALTHERIA3 spowodował błąd: nieprawidłowa strona w$\nmodule VALTHERIA3.EXE przy 'adres'$\n$\ngdzie adresem najczęściej jest liczba postaci 004030d3.$\n"
  StrCpy $1 0
  ClearErrors
  FileOpen $0 "$GAME\art\units\Osadnik Era Przemysłowa\Osadnik Era Przemysłowa.ini" r
  IfErrors +3
    FileSeek $0 0 END $1
    FileClose $0
  IntCmp $1 1654 pristine
    MessageBox MB_OK "Uaktualnienie jest już zainstalowane."
    Abort
  pristine:
FunctionEnd

Section
  DetailPrint "Witamy w uaktualnieniu do gry ValtheriaIII (uakt.1)"
  DetailPrint "Katalog, w którym zainstalowana jest gra: $GAME"
  ClearErrors
  Rename "$GAME\Art\Units\Przywódca Średiowiecze" "$GAME\Art\Units\Przywódca Średniowiecze"
  Rename "$GAME\Art\Units\Przywódca Średniowiecze\Przywódca Średiowiecze.ini" "$GAME\Art\Units\Przywódca Średniowiecze\Przywódca Średniowiecze.ini"
  IfErrors failed
  DetailPrint "Krok 1... OK"
  Rename "$GAME\Art\Units\Armia Średiowiecze" "$GAME\Art\Units\Armia Średniowiecze"
  Rename "$GAME\Art\Units\Armia Średniowiecze\Armia Średiowiecze.ini" "$GAME\Art\Units\Armia Średniowiecze\Armia Średniowiecze.ini"
  IfErrors failed
  DetailPrint "Krok 2... OK"
  SetOutPath "$GAME\art\units\Osadnik Era Przemysłowa"
  File "/oname=Osadnik Era Przemysłowa.ini" "${TEXTS}/settler.ini"
  IfErrors failed
  DetailPrint "Krok 3... OK"
  SetOutPath "$GAME\art\units\Robotnik Era Przemysłowa"
  File "/oname=Robotnik Era Przemysłowa.ini" "${TEXTS}/worker.ini"
  IfErrors failed
  DetailPrint "Krok 4... OK"
  MessageBox MB_OK "Uaktualnienie zostało zainstalowane poprawnie."
  Return
  failed:
  DetailPrint "błąd!"
SectionEnd
