REM  Macro1: puts the picture whose path the program wrote into B2 of sheet 1 on that sheet,
REM  embedded, anchored at B4, at its own size. Failures end the macro quietly: the program
REM  reports none, and a Basic error box would block the office.
Option Explicit

Sub Macro1
    On Error GoTo Done
    Dim oSheet As Object
    oSheet = ThisComponent.Sheets.getByIndex(0)
    Dim sPath As String
    sPath = oSheet.getCellByPosition(1, 1).getString()
    If sPath = "" Then Exit Sub

    Dim aArgs(0) As New com.sun.star.beans.PropertyValue
    aArgs(0).Name = "URL"
    aArgs(0).Value = ConvertToURL(sPath)
    Dim oGraphic As Object
    oGraphic = createUnoService("com.sun.star.graphic.GraphicProvider").queryGraphic(aArgs())
    If IsNull(oGraphic) Then Exit Sub

    ' The physical size when the file gives one, else its pixels at 96 dpi.
    Dim aSize As New com.sun.star.awt.Size
    aSize = oGraphic.Size100thMM
    If aSize.Width <= 0 Or aSize.Height <= 0 Then
        aSize.Width = oGraphic.SizePixel.Width * 2540 / 96
        aSize.Height = oGraphic.SizePixel.Height * 2540 / 96
    End If

    Dim oCell As Object
    oCell = oSheet.getCellByPosition(1, 3)
    Dim oShape As Object
    oShape = ThisComponent.createInstance("com.sun.star.drawing.GraphicObjectShape")
    ' Setting Graphic (not a URL) embeds the picture in the workbook.
    oShape.Graphic = oGraphic
    oSheet.DrawPage.add(oShape)
    oShape.setSize(aSize)
    oShape.setPosition(oCell.Position)
    oShape.Anchor = oCell
Done:
End Sub
