Attribute VB_Name = "Corvane"
' Corvane for Excel: the macros that hand Excel to the add-in library and run its commands.
'
' Import this module (File > Import File...) into a workbook that opens with Excel, such as your
' personal macro workbook PERSONAL.XLSB, once Corvane.dll is registered (see the README). Then
' run the macros from Developer > Macros, or put them on the Quick Access Toolbar or a ribbon
' group of your own (File > Options > Customize Ribbon > Choose commands from: Macros).
'
'   CorvaneFormulate   lay out the formula of the active cell (or of its array formula)
'   CorvaneUnformat    put the laid-out formula back on one line
'   CorvaneCalibrate   measure the character widths of Excel's standard font
'   CorvaneSettings    the two options
'   CorvaneAbout       title, copyright and web address
'   CorvaneHelp        open the help file that lies beside Corvane.dll
Option Explicit

Private m_objCorvane As Object

' The add-in object: created on first use and handed this Excel's Application object, then kept
' for as long as Excel runs.
Private Function CorvaneObject() As Object
    If m_objCorvane Is Nothing Then
        Set m_objCorvane = CreateObject("Corvane.cls_corvane")
        m_objCorvane.SetExcelApp Application
    End If
    Set CorvaneObject = m_objCorvane
End Function

Public Sub CorvaneFormulate()
    CorvaneObject.cvFormulateCell
End Sub

Public Sub CorvaneUnformat()
    CorvaneObject.cvDeformulateCell
End Sub

Public Sub CorvaneCalibrate()
    CorvaneObject.cvCalibrateSpacing
End Sub

Public Sub CorvaneSettings()
    CorvaneObject.cvSettings
End Sub

Public Sub CorvaneAbout()
    CorvaneObject.cvAbout
End Sub

Public Sub CorvaneHelp()
    Application.Help CorvaneObject.cvHelpfilePath
End Sub
