' The add-in library as a script sees it: created by its programmatic identifier, every public
' method called by name, variables passed by reference. Needs Corvane.dll registered per machine.
'   cscript //nologo corvane.vbs        exit status 0 when every check held, 1 otherwise
Option Explicit

Dim failures : failures = 0
Sub Check(ok, what)
  If Not ok Then
    failures = failures + 1
    WScript.Echo "FAIL " & what
  End If
End Sub

' Runs under On Error Resume Next: the error number the last statement left.
Function ErrorOf()
  ErrorOf = Err.Number
  Err.Clear
End Function

Dim o, o2, path, result, failedWith
Set o = CreateObject("Corvane.cls_corvane")

' ---- The help file: the library's folder and corvane.chm ----
path = o.cvHelpfilePath()
Check Len(path) > Len("\corvane.chm") And Right(LCase(path), 12) = "\corvane.chm", _
  "cvHelpfilePath ends in \corvane.chm: " & path
Check InStr(path, ":\") = 2, "cvHelpfilePath is a full path: " & path

' ---- Before SetExcelApp: commands without a trap fail, those with one end quietly ----
On Error Resume Next
o.cvCalibrateSpacing
Check Err.Number = 91, "cvCalibrateSpacing before SetExcelApp gives error 91, not " & Err.Number
Check Err.Source = "Corvane", "the error names its source: " & Err.Source
Check Len(Err.Description) > 0, "the error has a description"
Err.Clear
result = o.cvFormulateCell()
Check ErrorOf() = 0, "cvFormulateCell before SetExcelApp ends quietly"
Check IsEmpty(result), "cvFormulateCell returns Empty"
result = o.cvDeformulateCell()
Check ErrorOf() = 0, "cvDeformulateCell before SetExcelApp ends quietly"

' ---- The holder is shared: a second object reaches what the first handed over ----
' A dictionary has none of the spreadsheet's members, so a command reaching it fails with 438
' (object doesn't support this property or method) instead of 91 (no object).
Dim notExcel : Set notExcel = CreateObject("Scripting.Dictionary")
Set o2 = CreateObject("Corvane.cls_corvane")
o.SetExcelApp notExcel
Check ErrorOf() = 0, "SetExcelApp never fails"
o2.cvCalibrateSpacing
failedWith = ErrorOf()
Check failedWith = 438, "the second object uses the first one's host (error 438), not " & failedWith
o2.SetExcelApp Nothing
o.cvCalibrateSpacing
failedWith = ErrorOf()
Check failedWith = 438, "SetExcelApp Nothing keeps the host handed over before (438), not " & failedWith
On Error GoTo 0

' ---- The character scan: a 2-D string table, rows from 1 ----
Dim formula, length, table, upper
formula = "=SUM(""a("",B1)" : length = 13
table = o.PopulateCharArray(formula, length)
Check VarType(table) = vbArray + vbString, "PopulateCharArray returns an array of strings, VarType " & VarType(table)
Check formula = "=SUM(""a("",B1)" And length = 13, "PopulateCharArray leaves its arguments as they were"
On Error Resume Next
upper = UBound(table, 1)
failedWith = ErrorOf()
If failedWith = 0 Then
  Check LBound(table, 1) = 1 And upper = 13, "rows 1 to 13"
  Check LBound(table, 2) = 1 And UBound(table, 2) = 4, "columns 1 to 4"
Else
  ' This script engine cannot take the bounds of a typed array; the C++ client checks them.
  WScript.Echo "note: the script engine gives error " & failedWith & " for UBound of a string array"
End If
' The table goes back into the library as it came: row 13 exists, row 14 does not.
result = o.CheckChar(14, table)
failedWith = ErrorOf()
Check failedWith = 9, "CheckChar beyond the last row gives error 9, not " & failedWith
On Error GoTo 0

' SetQuoteType updates the caller's variables.
Dim quoteType, item, prevType, prevPrevType, prevIsQuote
quoteType = "LEFT_QUOTE" : item = 6 : prevType = "ESCAPE_QUOTE" : prevPrevType = "" : prevIsQuote = False
o.SetQuoteType quoteType, table, item, prevType, prevPrevType, prevIsQuote
Check prevType = "LEFT_QUOTE", "SetQuoteType: the previous class becomes the new one: " & prevType
Check prevPrevType = "ESCAPE_QUOTE", "SetQuoteType: the one before moves down: " & prevPrevType
Check prevIsQuote = True And VarType(prevIsQuote) = vbBoolean, "SetQuoteType: the previous character was a quote"
Check quoteType = "LEFT_QUOTE" And item = 6, "SetQuoteType leaves the class and the position"
Check VarType(table) = vbArray + vbString, "the table stays a string table"
On Error Resume Next
o.SetQuoteType quoteType, table, 99, prevType, prevPrevType, prevIsQuote
Check ErrorOf() = 9, "SetQuoteType outside the table gives error 9"
On Error GoTo 0

' ---- The other building blocks, by name ----
Dim text : text = "=A1" & vbLf & "   "
Check o.RemoveSpacesInLastLine(text) = "=A1" & vbLf, "RemoveSpacesInLastLine drops the trailing spaces"
Check text = "=A1" & vbLf & "   ", "RemoveSpacesInLastLine leaves its argument"
Dim level : level = 2
Check o.GetIndentSpacesCount(level, Array(0, 3.2, 4.3)) = 8, "GetIndentSpacesCount: 7.5 rounds to the even 8"
Check o.GetIndentSpacesCount(level, Array(0, 1.25, 1.25)) = 2, "GetIndentSpacesCount: 2.5 rounds to the even 2"
Check level = 2, "GetIndentSpacesCount leaves the level"
Check o.GetSpacingThisLevel("") = 0, "GetSpacingThisLevel of nothing is 0"
On Error Resume Next
' The measuring methods need a spreadsheet range; the dictionary has none of its members.
Dim code, section, spaceWidth
code = 8364 : section = "Special_Arial" : spaceWidth = 500
result = o.GetSpaceWidth(notExcel)
Check ErrorOf() = 438, "GetSpaceWidth on a non-range fails with 438"
result = o.CalibrateOneChar(code, notExcel, section, spaceWidth)
Check ErrorOf() = 438, "CalibrateOneChar on a non-range fails with 438"
Check code = 8364 And section = "Special_Arial" And spaceWidth = 500, "CalibrateOneChar leaves its arguments"
result = o.GetSpecialCharSpacing(code, notExcel, section)
failedWith = ErrorOf()
Check failedWith = 438, "GetSpecialCharSpacing with a non-range host fails with 438, not " & failedWith
o.NoSuchMethod
Check ErrorOf() = 438, "an unknown method gives 438"
On Error GoTo 0

' ---- The windows: modeless, so the calls return at once ----
o.cvSettings
o.cvAbout

If failures = 0 Then
  WScript.Echo "vbscript: every check held"
  WScript.Quit 0
End If
WScript.Echo failures & " check(s) failed"
WScript.Quit 1
