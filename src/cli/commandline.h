// qgrad's command line: a table of verbs, each declaring its words to the
// parser and running on what they say. Usage and help come from the table.
#pragma once

#include "gridhost/gridrun.h"
#include "mapview/staticmap.h"
#include "processing/processing.h"

#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace qgrad {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitRefused = 2;

struct Verb;

// The words of the processing flags as given; ProcessingFrom reads them.
struct ProcessingWords {
    std::string despike, destripe, lag;
    bool trueOffsets = false;
};

// The words of the grid and picture options as given; GridOptionsFrom reads them.
struct GridWords {
    bool gis = false, geoTiff = false, kmz = false, geoPackage = false, utm = false;
    bool postPoints = false, noView = false;
    std::string palette, clip, maxNodes, cell, gisPoints;
    std::string targets, coverage, pdf;
    bool printable = false;
    bool degrees = false;
};

// What one command line asks for.
struct CommandLine {
    const Verb* verb = nullptr;
    QString survey, out, folder, name, script;
    bool batch = false;
    bool skipRefused = false;
    bool grid = false;  // arrange and arrange-folder: grid what they wrote
    ProcessingSettings processing;
    GridRunOptions gridOptions;
    bool view = true;  // the gridded picture in a window, where there is a display
    HttpsSettings https = HttpsSettingsFromEnvironment();

    ProcessingWords processingWords;
    GridWords gridWords;

    // Pictures are drawn (the GUI module, offscreen unless viewing).
    bool Drawing() const;
    // The gridding host's windows are shown on a display.
    bool Viewing() const;
};

struct Verb {
    const char* name;
    const char* summary;
    void (*declare)(CLI::App& verb, CommandLine& c);
    int (*run)(const CommandLine& c);
};

void DeclareTable(CLI::App& verb, CommandLine& c);
void DeclareArrange(CLI::App& verb, CommandLine& c);
void DeclareArrangeFolder(CLI::App& verb, CommandLine& c);
void DeclareMap(CLI::App& verb, CommandLine& c);
void DeclareGrid(CLI::App& verb, CommandLine& c);

// The verb nearest to a mistyped one (fewest single-letter edits).
std::string NearestVerb(const std::string& word, const std::vector<Verb>& verbs);

// Parses argv into `out`. Returns the exit status when the command line is
// done with already: help or the version printed (0), or a usage error told
// on standard error (1). Values the options cannot take (a palette, a clip
// range, a processing value) are usage errors too.
std::optional<int> ParseCommandLine(int argc, char** argv, const std::vector<Verb>& verbs, CommandLine& out);

// Qt's GUI module wants a runtime folder of the user's; where the session
// has none (a plain terminal, a service), a private one lives as long as
// this and goes with it, and Qt has nothing to warn of.
class PrivateRuntimeFolder {
public:
    explicit PrivateRuntimeFolder(bool needed);
    ~PrivateRuntimeFolder();
    PrivateRuntimeFolder(const PrivateRuntimeFolder&) = delete;
    PrivateRuntimeFolder& operator=(const PrivateRuntimeFolder&) = delete;

private:
    std::string path_;
};

}  // namespace qgrad
