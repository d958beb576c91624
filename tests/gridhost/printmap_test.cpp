#include "buriedfield.h"
#include "gdaltools.h"
#include "common/language.h"
#include "gridhost/printmap.h"
#include "testapp.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace qgrad;
using namespace qgrad::testing;

namespace {

TEST(NiceLength, OneTwoOrFiveTimesAPowerOfTen) {
    struct Case {
        const char* name;
        double most, nice;
    } cases[] = {{"exact", 5, 5}, {"under five", 4.9, 2}, {"over ten", 13, 10}, {"metres", 249, 200},
                 {"centimetres", 0.07, 0.05}, {"kilometres", 7400, 5000}, {"nothing", 0, 1}};
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(NiceLength(c.most), c.nice) << c.name;
}

class PrintableMapTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApplication<QGuiApplication>(); }
    QString Path(const QString& name) const { return dir_.filePath(name); }
    // The first page at 75 dots an inch.
    QImage Render(const QString& pdf) const {
        Tool("pdftoppm", {"-r", "75", "-png", "-singlefile", pdf, Path("page")});
        return QImage(Path("page.png"));
    }
    QTemporaryDir dir_;
};

int CountPixels(const QImage& image, const std::function<bool(QColor)>& wanted) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) n += wanted(image.pixelColor(x, y));
    return n;
}

TEST_F(PrintableMapTest, LandscapePageOfTheChosenPaperWithTheMapAndTargetsOnIt) {
    const Grid grid = FieldGrid({{"iron", 20, 30, 0.6, 60}, {"kiln", 40, 20, 1.0, 200}}, 4);
    const TargetPicking targets = PickTargets(grid);
    ASSERT_EQ(targets.targets.size(), 2u);
    PrintSheet sheet;
    sheet.title = "Field 7";
    sheet.date = "14.05.2026";
    sheet.files = {"run001.csv", "run002.csv"};
    sheet.processing = "despike K 5; destripe by median";
    sheet.gridding = "0.25 m cells; clip median ± 3 sd";
    struct Case {
        const char* name;
        Paper paper;
        const char* size;
    } cases[] = {{"A4", Paper::A4, "842 x 595 pts (A4)"}, {"A3", Paper::A3, "1191 x 842 pts (A3)"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sheet.paper = c.paper;
        const QString pdf = Path(QString("%1.pdf").arg(c.name));
        WritePrintableMap(pdf, grid, {}, sheet, &targets);
        const QString info = Tool("pdfinfo", {pdf});
        EXPECT_TRUE(info.contains(QRegularExpression("Pages: +1\\n"))) << info.toStdString();
        EXPECT_TRUE(info.contains(c.size)) << info.toStdString();
        EXPECT_TRUE(info.contains(QRegularExpression("Title: +Field 7"))) << info.toStdString();
        const QImage page = Render(pdf);
        ASSERT_FALSE(page.isNull());
        EXPECT_GT(page.width(), page.height());
        // The greyscale grid fills much of the page's left part; the target
        // marks are red.
        const int greys = CountPixels(page, [](QColor q) {
            return q.red() == q.green() && q.green() == q.blue() && q.red() > 40 && q.red() < 215;
        });
        EXPECT_GT(greys, page.width() * page.height() / 5);
        const int reds = CountPixels(page, [](QColor q) { return q.red() > 150 && q.green() < 90 && q.blue() < 90; });
        EXPECT_GT(reds, 4);
    }
}

TEST_F(PrintableMapTest, WithoutTargetsNoMarks) {
    const QString pdf = Path("plain.pdf");
    WritePrintableMap(pdf, FieldGrid({}, 2), {}, PrintSheet{}, nullptr);
    const QImage page = Render(pdf);
    ASSERT_FALSE(page.isNull());
    EXPECT_EQ(CountPixels(page, [](QColor q) { return q.red() > 150 && q.green() < 90 && q.blue() < 90; }), 0);
}

// A grid of the same field on metre cells of UTM zone 37N.
Grid MetricFieldGrid() {
    Grid grid = FieldGrid({{"iron", 20, 30, 0.6, 60}}, 5);
    grid.epsg = 32637;
    grid.xLL = 412000;
    grid.yLL = 6178000;
    grid.xSize = grid.ySize = 0.25;
    return grid;
}

// The axes say which ground they measure, in the interface's language.
TEST_F(PrintableMapTest, AxesSayTheirSystemInTheInterfaceLanguage) {
    struct Case {
        const char* name;
        bool metric;
        const char* language;
        QStringList words;
    } cases[] = {
        {"degrees", false, "en", {"metres east of the south-west corner", "metres north", "WGS 84, north up"}},
        {"UTM", true, "en", {"Easting, m", "Northing, m", "412000", "6178020", "EPSG:32637, grid north up"}},
        {"UTM in Russian", true, "ru", {"Восток (easting), м", "Север (northing), м", "Обработка: нет", "412000"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InstallInterfaceLanguage(c.language);
        const QString pdf = Path(QString("%1.pdf").arg(c.name));
        WritePrintableMap(pdf, c.metric ? MetricFieldGrid() : FieldGrid({}, 2), {}, PrintSheet{}, nullptr);
        const QString text = Tool("pdftotext", {"-layout", pdf, "-"});
        for (const QString& word : c.words) EXPECT_TRUE(text.contains(word)) << word.toStdString() << "\n" << text.toStdString();
    }
    InstallInterfaceLanguage("en");
}

// The picture asked to be printable is the page itself, landscape and
// filled by the map.
TEST_F(PrintableMapTest, PictureIsThePageAtItsPaperSize) {
    const Grid grid = FieldGrid({{"iron", 20, 30, 0.6, 60}, {"kiln", 40, 20, 1.0, 200}}, 4);
    const TargetPicking targets = PickTargets(grid);
    struct Case {
        const char* name;
        Paper paper;
        QSize size;
    } cases[] = {{"A4", Paper::A4, {1754, 1240}}, {"A3", Paper::A3, {2481, 1754}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PrintSheet sheet;
        sheet.paper = c.paper;
        const QImage picture = PrintableMapPicture(grid, {}, sheet, &targets);
        EXPECT_EQ(picture.size(), c.size);
        const int greys = CountPixels(picture, [](QColor q) {
            return q.red() == q.green() && q.green() == q.blue() && q.red() > 40 && q.red() < 215;
        });
        EXPECT_GT(greys, picture.width() * picture.height() / 5);
        EXPECT_GT(CountPixels(picture, [](QColor q) { return q.red() > 150 && q.green() < 90 && q.blue() < 90; }), 4);
    }
}

}  // namespace
