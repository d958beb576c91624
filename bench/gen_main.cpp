// qgrad-gen: writes synthetic gradiometer runs.
//   qgrad-gen FILE [--rows N] [--seed S] [--line-north M] [--westward] [--tenths] [--traverses T]
//   qgrad-gen --folder DIR --files F [--rows N] [--seed S] [--tenths]
//   qgrad-gen --campaign DIR --files F [--rows N] [--seed S] [--traverse-length M] [--lag SECONDS]
// A folder holds F parallel traverses 6 m apart, alternately east and west,
// named run001.csv, run002.csv, ...; a campaign holds F blocks of a field
// walked in serpentine traverses, and truth.tsv with what lies buried.
#include "campaign.h"
#include "surveygen.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    qgrad::bench::RunSpec base;
    qgrad::bench::CampaignSpec campaign;
    std::string file, folder, campaignFolder;
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "qgrad-gen: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--rows") base.rows = std::strtoull(next(), nullptr, 10);
        else if (a == "--seed") base.seed = std::strtoull(next(), nullptr, 10);
        else if (a == "--line-north") base.lineNorth = std::strtod(next(), nullptr);
        else if (a == "--westward") base.westward = true;
        else if (a == "--traverses") base.traverses = std::atoi(next());
        else if (a == "--tenths") base.tenths = true;
        else if (a == "--folder") folder = next();
        else if (a == "--files") files = std::atoi(next());
        else if (a == "--campaign") campaignFolder = next();
        else if (a == "--traverse-length") campaign.traverseLength = std::strtod(next(), nullptr);
        else if (a == "--lag") campaign.lagSeconds = std::strtod(next(), nullptr);
        else if (!a.empty() && a[0] != '-') file = a;
        else {
            std::fprintf(stderr, "qgrad-gen: unknown option %s\n", a.c_str());
            return 2;
        }
    }
    if (!campaignFolder.empty()) {
        campaign.files = files;
        campaign.rowsPerFile = base.rows;
        campaign.seed = base.seed;
        if (!qgrad::bench::WriteCampaign(campaign, campaignFolder)) {
            std::fprintf(stderr, "qgrad-gen: cannot write the campaign into %s\n", campaignFolder.c_str());
            return 1;
        }
        return 0;
    }
    if (!folder.empty()) {
        std::filesystem::create_directories(folder);
        for (int f = 0; f < files; ++f) {
            qgrad::bench::RunSpec run = base;
            run.seed = base.seed + static_cast<std::uint64_t>(f);
            run.lineNorth = 6.0 * f;
            run.westward = f % 2 == 1;
            run.startSecond = base.startSecond + f * static_cast<int>(base.rows / base.sampleHz + 40);
            char name[32];
            std::snprintf(name, sizeof name, "run%03d.csv", f + 1);
            if (!qgrad::bench::WriteRun(run, (std::filesystem::path(folder) / name).string())) {
                std::fprintf(stderr, "qgrad-gen: cannot write %s\n", name);
                return 1;
            }
        }
        return 0;
    }
    if (file.empty()) {
        std::fprintf(stderr, "usage: qgrad-gen FILE [--rows N] [--seed S] | --folder DIR --files F | --campaign DIR --files F\n");
        return 2;
    }
    if (!qgrad::bench::WriteRun(base, file)) {
        std::fprintf(stderr, "qgrad-gen: cannot write %s\n", file.c_str());
        return 1;
    }
    return 0;
}
