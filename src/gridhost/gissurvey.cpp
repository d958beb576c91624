#include "gridhost/gissurvey.h"

#include "batch/folderrun.h"
#include "common/fileio.h"
#include "pipeline/opensurvey.h"

#include <QFileInfo>

#include <cmath>
#include <cstring>
#include <limits>

namespace qgrad {
namespace {

constexpr const char* kGradientPrefix = "GPS_DIFF_";
constexpr const char* kAbsolutePrefix = "GPS_ABS_";
// The point files hold 8 decimals: half a unit of the last one, and a little.
constexpr double kCoordinateTolerance = 6e-9;

// The channel (1 to 12) of each arranged point, in the arrangement's order:
// the sample rows, and in each the channels with both readings present.
std::vector<int> ArrangedChannels(const SurveyTable& table) {
    std::vector<int> channels;
    for (std::size_t r = kFirstDataRow; r < table.rowCount(); ++r)
        for (int k = 0; k < kChannels; ++k)
            if (!table.cell(FieldColumn(k), r).empty() && !table.cell(GradientColumn(k), r).empty())
                channels.push_back(k + 1);
    return channels;
}

// Opens one survey; when its points are those of `gradient` from `from` on,
// marks them with their channel and run and returns their number, else 0.
std::size_t MatchSurvey(const QString& path, OpeningMode mode, const std::vector<DataPoint>& gradient,
                        std::size_t from, GisSurvey& survey) {
    OpeningOptions options;
    options.mode = mode;
    options.keepProfiles = false;
    OpenedSurvey opened;
    try {
        OpenSurvey(path, options, opened);
    } catch (const std::exception&) {
        return 0;  // not a survey this program opens: its points are not these
    }
    const ArrangedPoints& arranged = opened.points;
    const std::size_t n = arranged.size();
    const std::vector<int> channels = ArrangedChannels(opened.table);
    if (!opened.arranged || n == 0 || channels.size() != n || from + n > gradient.size()) return 0;
    for (std::size_t i = 0; i < n; ++i)
        if (std::abs(arranged.lon(i) - gradient[from + i].lon) > kCoordinateTolerance ||
            std::abs(arranged.lat(i) - gradient[from + i].lat) > kCoordinateTolerance)
            return 0;
    const int run = static_cast<int>(survey.runs.size());
    // The antenna's fixes as the table holds them (the map's track is a
    // float copy, a few decimetres coarse), a position repeated while the
    // fix stood still given once.
    SurveyRun& r = survey.runs.emplace_back();
    r.file = opened.fileName.toStdString();
    for (std::size_t i = 0; i < opened.positions.lon.size(); ++i) {
        const double lon = opened.positions.lon[i], lat = opened.positions.lat[i];
        if (!r.lon.empty() && r.lon.back() == lon && r.lat.back() == lat) continue;
        r.lon.push_back(lon);
        r.lat.push_back(lat);
    }
    for (std::size_t i = 0; i < n; ++i) {
        survey.points[from + i].channel = channels[i];
        survey.points[from + i].run = run;
    }
    return n;
}

}  // namespace

GisSurvey ReadGisSurvey(const QString& gradientFile, const std::vector<DataPoint>& gradient) {
    GisSurvey survey;
    survey.points.reserve(gradient.size());
    for (const DataPoint& p : gradient)
        survey.points.push_back({p.lon, p.lat, p.z, std::numeric_limits<double>::quiet_NaN(), -1, -1});
    const QFileInfo info(gradientFile);
    const QString name = info.fileName();
    if (!name.startsWith(kGradientPrefix)) return survey;
    const QString folder = info.absolutePath() + "/";
    const QString surveyName = name.mid(static_cast<int>(std::strlen(kGradientPrefix)));

    const QString absoluteFile = folder + kAbsolutePrefix + surveyName;
    if (QFileInfo::exists(absoluteFile)) {
        const std::vector<DataPoint> absolute = ReadPointFile(absoluteFile);
        // Row i of both files is the same sample and channel.
        if (absolute.size() == gradient.size())
            for (std::size_t i = 0; i < absolute.size(); ++i) survey.points[i].field = absolute[i].z;
    }

    // One survey saved alone has the point file's name with its own
    // extension; a folder's combined files come from all its surveys in turn.
    QStringList surveys = FindSurveyFiles(folder);
    OpeningMode mode = OpeningMode::Folder;
    for (const QString& s : surveys)
        if (ReplaceExtension(s, ".txt") == surveyName) {
            surveys = {s};
            mode = OpeningMode::Interactive;
            break;
        }
    std::size_t matched = 0;
    for (const QString& s : surveys) matched += MatchSurvey(folder + s, mode, gradient, matched, survey);
    return survey;
}

}  // namespace qgrad
