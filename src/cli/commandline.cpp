#include "commandline.h"

#include "common/fileio.h"
#include "common/numtext.h"
#include "session/session.h"

#include <CLI/CLI.hpp>


#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <numeric>
#include <stdexcept>
#include <system_error>

namespace qgrad {
namespace {

// A path or name as the file system gives its bytes.
auto Into(QString& target) {
    return [&target](const std::string& bytes) { target = FromLocalBytes(bytes); };
}

void AddProcessingFlags(CLI::App& verb, ProcessingWords& w) {
    verb.add_flag("--despike{5}", w.despike,
                  "K[,HALFWIDTH]: replace readings further than K (default 5) robust deviations from the median of "
                  "the readings within HALFWIDTH (default 3) either side");
    verb.add_flag("--destripe{median}", w.destripe, "take off each sensor's level on each traverse: median (default) or mean");
    verb.add_option("--lag", w.lag, "SECONDS or auto: place each reading where the track was that much later");
    verb.add_flag("--true-offsets", w.trueOffsets, "place each sensor at its offsets by the exact local metres per degree");
}

double ProcessingNumber(const char* flag, const std::string& text) {
    double v = 0;
    if (!TryParseNumber(text, v))
        throw std::invalid_argument(std::string(flag) + " takes a number, not \"" + text + "\"");
    return v;
}

// Throws std::invalid_argument for a value the flags cannot take.
ProcessingSettings ProcessingFrom(const ProcessingWords& w) {
    ProcessingSettings p;
    if (!w.despike.empty()) p.despike = ParseDespikeValue(w.despike);
    p.trueOffsets = w.trueOffsets;
    if (w.destripe == "median") p.destripe.level = LevelEstimate::Median;
    else if (w.destripe == "mean") p.destripe.level = LevelEstimate::Mean;
    else if (!w.destripe.empty()) throw std::invalid_argument("--destripe takes median or mean");
    if (w.lag == "auto") {
        p.lag.mode = LagMode::Auto;
    } else if (!w.lag.empty()) {
        p.lag.mode = LagMode::Fixed;
        p.lag.seconds = ProcessingNumber("--lag", w.lag);
    }
    ValidateProcessing(p);
    return p;
}

// The grid and picture options; `needs` (arrange's --grid) is the switch
// that the gridding options only go with.
void AddGridFlags(CLI::App& verb, GridWords& w, CLI::Option* needs = nullptr) {
    std::vector<CLI::Option*> options = {
        verb.add_flag("--no-view", w.noView, "no window for the progress and the picture"),
        verb.add_flag("--gis", w.gis, "NAME.tif, NAME.kmz and NAME.gpkg beside NAME.grd"),
        verb.add_flag("--geotiff", w.geoTiff, "NAME.tif: the grid as 32-bit floats"),
        verb.add_flag("--kmz", w.kmz, "NAME.kmz: the picture as a ground overlay, the tracks"),
        verb.add_flag("--gpkg", w.geoPackage, "NAME.gpkg: the points, the tracks and the grid"),
        verb.add_option("--gis-points", w.gisPoints,
                        "N or all: the GeoPackage's points when there are at most N (5000000, the default), else "
                        "none; all: every point"),
        verb.add_flag("--utm", w.utm, "the GeoTIFF in the survey's UTM zone instead of EPSG:4326"),
        verb.add_option("--palette", w.palette, "grey (default), diverging or rainbow"),
        verb.add_option("--clip", w.clip, "the picture's range: N, LOW:HIGH or Ksd (default 3sd)"),
        verb.add_flag("--post-points", w.postPoints, "post the data points on the picture"),
        verb.add_option("--max-nodes", w.maxNodes, "grid at most N nodes (at most 50000000, the default)"),
        verb.add_option("--cell", w.cell,
                        "METRES: square cells of that size in the survey's UTM zone; the GeoTIFF and the "
                        "GeoPackage's grid in that zone"),
        verb.add_flag("--targets{6sd}", w.targets,
                      "NAME_targets.csv: anomalies beyond THRESHOLD from the grid's median (Ksd, or nT/m)"),
        verb.add_flag("--coverage{1}", w.coverage,
                      "NAME_coverage.txt: the block's ground farther than METRES from every point"),
        verb.add_flag("--pdf{A4}", w.pdf, "NAME.pdf: the map to print, on A4 or A3"),
        verb.add_flag("--printable", w.printable,
                      "the picture laid out as the printed page: axes in metres, scale bar, north arrow, title"),
        verb.add_flag("--degrees", w.degrees, "the printed page's axes in degrees of longitude and latitude"),
    };
    if (needs)
        for (CLI::Option* o : options) o->needs(needs);
}

// Throws std::invalid_argument for a palette, clip or node limit it cannot read.
GridRunOptions GridOptionsFrom(const GridWords& w) {
    GridRunOptions o;
    o.gis.geoTiff = w.gis || w.geoTiff;
    o.gis.kmz = w.gis || w.kmz;
    o.gis.geoPackage = w.gis || w.geoPackage;
    if (w.utm) o.gis.projection = GeoTiffProjection::LocalUtm;
    if (w.postPoints) o.presentation.posting = PointPosting::Sparse;
    if (!w.palette.empty()) o.presentation.palette = ParsePalette(w.palette);
    if (!w.clip.empty()) o.presentation.clip = ParseClip(w.clip);
    if (!w.maxNodes.empty()) o.maxNodes = ParseNodeLimit(w.maxNodes);
    if (!w.cell.empty()) o.cellMetres = ParseCellSize(w.cell);
    if (!w.gisPoints.empty()) o.gis.geoPackagePointLimit = ParseGeoPackagePointLimit(w.gisPoints);
    if (!w.targets.empty()) o.handover.targets = ParseTargetThreshold(w.targets);
    if (!w.coverage.empty()) o.handover.coverage = ParseCoverageGap(w.coverage);
    if (!w.pdf.empty()) o.handover.pdf = ParsePaper(w.pdf);
    o.printablePicture = w.printable;
    if (w.degrees) o.handover.axes = PageAxes::Degrees;
    return o;
}

CLI::Option* AddSurvey(CLI::App& verb, CommandLine& c) {
    return verb.add_option_function<std::string>("SURVEY", Into(c.survey), "a survey file (.csv)")->required();
}

bool HasDisplay() { return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"); }

std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    std::iota(row.begin(), row.end(), std::size_t{0});
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// A flag with an optional value reads "--despike[=5]" in the help, as it is
// typed, where the parser writes its default as "--despike{5}".
class Formatter : public CLI::Formatter {
public:
    std::string make_option_name(const CLI::Option* opt, bool is_positional) const override {
        std::string name = CLI::Formatter::make_option_name(opt, is_positional);
        const std::size_t open = name.find('{');
        const std::size_t close = name.find('}', open);
        if (open != std::string::npos && close != std::string::npos)
            name = name.substr(0, open) + "[=" + name.substr(open + 1, close - open - 1) + "]" + name.substr(close + 1);
        return name;
    }
};

// Usage errors name their verb's usage; the program's help lists the verbs.
int UsageError(const CLI::App& program, const Formatter& formatter, const CLI::App* verb,
               const std::string& message) {
    if (!message.empty()) std::fprintf(stderr, "qgrad: %s\n", message.c_str());
    if (verb)
        std::fputs(formatter.make_usage(verb, "qgrad " + verb->get_name()).c_str(), stderr);
    else
        std::fputs(formatter.make_usage(&program, "qgrad").c_str(), stderr);
    std::fputs("Run with --help for more information.\n", stderr);
    return kExitFailure;
}

}  // namespace

bool CommandLine::Drawing() const {
    const std::string v = verb ? verb->name : "";
    return v == "map" || v == "grid" || grid;
}

bool CommandLine::Viewing() const { return Drawing() && verb && std::string(verb->name) != "map" && view && HasDisplay(); }

void DeclareTable(CLI::App& verb, CommandLine& c) {
    AddSurvey(verb, c);
    verb.add_flag("--batch", c.batch, "open as the folder run does");
}

void DeclareArrange(CLI::App& verb, CommandLine& c) {
    AddSurvey(verb, c);
    AddProcessingFlags(verb, c.processingWords);
    AddGridFlags(verb, c.gridWords, verb.add_flag("--grid", c.grid, "grid right after writing, as qgrad grid on the script"));
}

void DeclareArrangeFolder(CLI::App& verb, CommandLine& c) {
    verb.add_option_function<std::string>("FOLDER", Into(c.folder), "the folder whose surveys (.csv) are arranged")
        ->required();
    verb.add_option_function<std::string>("NAME", Into(c.name), "the combined name")->required();
    verb.add_flag("--skip-refused", c.skipRefused, "go on past refused surveys; list them in GPS_REFUSED_NAME.txt");
    AddProcessingFlags(verb, c.processingWords);
    AddGridFlags(verb, c.gridWords, verb.add_flag("--grid", c.grid, "grid right after writing, as qgrad grid on the script"));
}

void DeclareMap(CLI::App& verb, CommandLine& c) {
    AddSurvey(verb, c);
    verb.add_option_function<std::string>("OUT", Into(c.out), "the picture (.png)")->required();
    verb.add_option("--endpoint", c.https.endpoint, "the map service's address (else $QGRAD_MAP_ENDPOINT)");
    verb.add_option("--cacert", c.https.caFile, "the CA certificates to trust (PEM; else $QGRAD_MAP_CAFILE)");
}

void DeclareGrid(CLI::App& verb, CommandLine& c) {
    verb.add_option_function<std::string>("SCRIPT", Into(c.script), "the gridding script (.bas)")->required();
    AddGridFlags(verb, c.gridWords);
}

std::string NearestVerb(const std::string& word, const std::vector<Verb>& verbs) {
    const auto nearest = std::min_element(verbs.begin(), verbs.end(), [&](const Verb& a, const Verb& b) {
        return EditDistance(word, a.name) < EditDistance(word, b.name);
    });
    return nearest == verbs.end() ? std::string() : nearest->name;
}

std::optional<int> ParseCommandLine(int argc, char** argv, const std::vector<Verb>& verbs, CommandLine& out) {
    CLI::App program("Quenor GRAD without the window: its files are the bytes the window writes.", "qgrad");
    const auto formatter = std::make_shared<Formatter>();
    formatter->label("Usage", "usage");
    formatter->label("SUBCOMMAND", "COMMAND");
    formatter->label("SUBCOMMANDS", "COMMANDS");
    formatter->label("Subcommands", "Commands");
    program.formatter(formatter);
    program.set_version_flag("--version", QGRAD_VERSION);
    program.require_subcommand(1);
    program.footer("Exit status 0 on success, 2 when a survey is refused, 1 for any other failure.");
    std::vector<CLI::App*> declared;
    for (const Verb& v : verbs) {
        CLI::App* verb = program.add_subcommand(v.name, v.summary);
        v.declare(*verb, out);
        declared.push_back(verb);
    }
    if (argc > 1 && argv[1][0] != '-' &&
        std::none_of(verbs.begin(), verbs.end(), [&](const Verb& v) { return v.name == std::string(argv[1]); }))
        return UsageError(program, *formatter, nullptr,
                          "unknown command '" + std::string(argv[1]) + "'; did you mean '" + NearestVerb(argv[1], verbs) + "'?");
    const auto chosen = [&]() -> const CLI::App* {
        for (std::size_t i = 0; i < declared.size(); ++i)
            if (declared[i]->parsed()) return declared[i];
        return nullptr;
    };
    try {
        program.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return program.exit(e, std::cout, std::cerr);
    } catch (const CLI::CallForAllHelp& e) {
        return program.exit(e, std::cout, std::cerr);
    } catch (const CLI::CallForVersion& e) {
        return program.exit(e, std::cout, std::cerr);
    } catch (const CLI::ParseError& e) {
        return UsageError(program, *formatter, chosen(), e.what());
    }
    for (std::size_t i = 0; i < declared.size(); ++i)
        if (declared[i]->parsed()) out.verb = &verbs[i];
    try {
        out.processing = ProcessingFrom(out.processingWords);
        out.gridOptions = GridOptionsFrom(out.gridWords);
        AskQualityForCoverage(out.gridOptions, out.processing);
    } catch (const std::invalid_argument& e) {
        return UsageError(program, *formatter, chosen(), e.what());
    }
    out.view = !out.gridWords.noView;
    return std::nullopt;
}

PrivateRuntimeFolder::PrivateRuntimeFolder(bool needed) {
    if (!needed || !qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) return;
    std::string pattern = (std::filesystem::temp_directory_path() / "qgrad-runtime-XXXXXX").string();
    // mkdtemp makes it the user's own, readable by no one else, as Qt asks.
    if (mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(path_));
}

PrivateRuntimeFolder::~PrivateRuntimeFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace qgrad
