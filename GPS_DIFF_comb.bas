Sub Main

	Dim SurferApp As Object
	Set SurferApp = CreateObject("Surfer.Application")
	SurferApp.Visible = True
	SurferApp.WindowState = srfWindowStateMaximized

	Dim Plot As Object
	Set Plot = SurferApp.Documents.Add
	SurferApp.GridData3(DataFile:="/work/main/GPS_DIFF_comb.txt", _
		Algorithm:=srfKriging, showReport:=False, BlankOutsideHull:=True, NumCols:=1090, NumRows:=100, _
		OutGrid:="/work/main/GPS_DIFF_comb.grd")

	Dim MapFrame As Object
	Set MapFrame = Plot.Shapes.AddContourMap(GridFileName:="/work/main/GPS_DIFF_comb.grd")
	Set PostLayer = Plot.Shapes.AddPostLayer(Map:=MapFrame, DataFileName:="/work/main/GPS_DIFF_comb.txt")
	PostLayer.Symbol.Size = 0.01

	Dim ColorLayer As Object
	Set ColorLayer = MapFrame.Overlays(1)
	ColorLayer.FillForegroundColorMap.LoadPreset("Rainbow6")
	ColorLayer.FillContours = True
	ColorLayer.ShowColorScale = True
	ColorLayer.ShowMajorLabels = False
	ColorLayer.ShowMinorLabels = False
	ColorLayer.MajorLine.Style = "Invisible"
	ColorLayer.MinorLine.Style = "Invisible"

	Set ColorScale = ColorLayer.ColorScale
	ColorScale.Title = "gradHz, nT/m"
	ColorScale.TitlePosition = srfColorScaleTitlePositionTop
	ColorScale.TitleAngle = 0
End Sub
