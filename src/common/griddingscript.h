// The gridding script's 33 lines, written once: the program fills them in
// and our own gridding host reads them back. Four placeholders stand for what
// changes; the data and grid files stand as string literals of the script's
// language.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qgrad {

inline constexpr std::string_view kScriptDataFile = "{DATA}";
inline constexpr std::string_view kScriptGridFile = "{GRID}";
inline constexpr std::string_view kScriptColumns = "{COLS}";
inline constexpr std::string_view kScriptRows = "{ROWS}";

inline constexpr std::array<std::string_view, 33> kGriddingScriptLines = {
    "Sub Main",
    "",
    "\tDim SurferApp As Object",
    "\tSet SurferApp = CreateObject(\"Surfer.Application\")",
    "\tSurferApp.Visible = True",
    "\tSurferApp.WindowState = srfWindowStateMaximized",
    "",
    "\tDim Plot As Object",
    "\tSet Plot = SurferApp.Documents.Add",
    "\tSurferApp.GridData3(DataFile:={DATA}, _",
    "\t\tAlgorithm:=srfKriging, showReport:=False, BlankOutsideHull:=True, NumCols:={COLS}, NumRows:={ROWS}, _",
    "\t\tOutGrid:={GRID})",
    "",
    "\tDim MapFrame As Object",
    "\tSet MapFrame = Plot.Shapes.AddContourMap(GridFileName:={GRID})",
    "\tSet PostLayer = Plot.Shapes.AddPostLayer(Map:=MapFrame, DataFileName:={DATA})",
    "\tPostLayer.Symbol.Size = 0.01",
    "",
    "\tDim ColorLayer As Object",
    "\tSet ColorLayer = MapFrame.Overlays(1)",
    "\tColorLayer.FillForegroundColorMap.LoadPreset(\"Rainbow6\")",
    "\tColorLayer.FillContours = True",
    "\tColorLayer.ShowColorScale = True",
    "\tColorLayer.ShowMajorLabels = False",
    "\tColorLayer.ShowMinorLabels = False",
    "\tColorLayer.MajorLine.Style = \"Invisible\"",
    "\tColorLayer.MinorLine.Style = \"Invisible\"",
    "",
    "\tSet ColorScale = ColorLayer.ColorScale",
    "\tColorScale.Title = \"gradHz, nT/m\"",
    "\tColorScale.TitlePosition = srfColorScaleTitlePositionTop",
    "\tColorScale.TitleAngle = 0",
    "End Sub",
};

// The script with the placeholders filled in, CR LF line ends.
std::string FillGriddingScript(std::string_view dataLiteral, std::string_view gridLiteral, std::int32_t cols,
                               std::int32_t rows);

}  // namespace qgrad
