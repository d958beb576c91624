#include "buriedfield.h"
#include "gdaltools.h"
#include "common/language.h"
#include "gridhost/gridsystem.h"
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

// Words of a PDF page with their boxes, as pdftotext -bbox gives them.
struct PageWord {
    QString text;
    QRectF box;
};

std::vector<PageWord> PageWords(const QString& pdf) {
    const QString html = Tool("pdftotext", {"-bbox", pdf, "-"});
    static const QRegularExpression word(
        "<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)</word>");
    std::vector<PageWord> words;
    for (auto m = word.globalMatch(html); m.hasNext();) {
        const auto w = m.next();
        const QPointF from(w.captured(1).toDouble(), w.captured(2).toDouble());
        const QPointF to(w.captured(3).toDouble(), w.captured(4).toDouble());
        words.push_back({w.captured(5), QRectF(from, to)});
    }
    return words;
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

// Asked for degrees, the sides carry longitudes and latitudes: on a metric
// grid each found along the side from the grid's own system, within the
// longitudes and latitudes of its corners.
TEST_F(PrintableMapTest, DegreesOnTheSidesWhenAskedFor) {
    struct Case {
        const char* name;
        Grid grid;
    } cases[] = {{"grid in degrees", FieldGrid({}, 2)}, {"UTM grid", MetricFieldGrid()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Grid& g = c.grid;
        std::vector<double> x{g.xLL, g.xLL + g.xSize * (g.cols - 1)}, y{g.yLL, g.yLL + g.ySize * (g.rows - 1)};
        if (g.Metric()) ToLonLat(g.epsg, x, y);
        PrintSheet sheet;
        sheet.axes = PageAxes::Degrees;
        const QString pdf = Path(QString("%1.pdf").arg(c.name));
        WritePrintableMap(pdf, g, {}, sheet, nullptr);
        const QString text = Tool("pdftotext", {"-layout", pdf, "-"});
        EXPECT_TRUE(text.contains("Longitude, degrees east")) << text.toStdString();
        EXPECT_TRUE(text.contains("Latitude, degrees north")) << text.toStdString();
        int longitudes = 0, latitudes = 0;
        for (const PageWord& w : PageWords(pdf)) {
            if (!w.text.endsWith("°")) continue;
            bool ok = false;
            const double v = w.text.chopped(1).toDouble(&ok);
            ASSERT_TRUE(ok) << w.text.toStdString();
            const double slack = 1e-9;
            if (v >= x[0] - slack && v <= x[1] + slack) ++longitudes;
            else if (v >= y[0] - slack && v <= y[1] + slack) ++latitudes;
            else ADD_FAILURE() << w.text.toStdString() << " lies off the grid";
        }
        EXPECT_GE(longitudes, 2);
        EXPECT_GE(latitudes, 2);
    }
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

// Hundreds of targets in a corner of the field: each is ringed, the
// numbers that would lie over another's are left off and the side says how
// many, and no two numbers on the map overlap.
TEST_F(PrintableMapTest, CrowdedTargetsKeepTheirNumbersApart) {
    const Grid grid = FieldGrid({}, 3);
    struct Case {
        const char* name;
        int count;
        double spacingCells;  // between neighbouring targets
        bool crowded;
    } cases[] = {{"a few far apart", 6, 40, false}, {"hundreds close together", 400, 1.5, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TargetPicking targets;
        targets.threshold = 1;
        for (int i = 0; i < c.count; ++i) {
            Target t;
            t.number = i + 1;
            t.x = grid.xLL + (5 + (i % 20) * c.spacingCells) * grid.xSize;
            t.y = grid.yLL + (5 + (i / 20) * c.spacingCells) * grid.ySize;
            t.peak = 10.0 - i * 0.01;
            targets.targets.push_back(t);
        }
        const QString pdf = Path(QString("%1.pdf").arg(c.count));
        WritePrintableMap(pdf, grid, {}, PrintSheet{}, &targets);
        const std::vector<PageWord> words = PageWords(pdf);
        ASSERT_FALSE(words.empty());
        // The map is the page's left three quarters; the list is right of it.
        double pageRight = 0;
        for (const PageWord& w : words) pageRight = std::max(pageRight, w.box.right());
        std::vector<QRectF> numbers;
        for (const PageWord& w : words) {
            bool isNumber = false;
            w.text.toInt(&isNumber);
            if (isNumber && w.box.right() < 0.7 * pageRight) numbers.push_back(w.box);
        }
        for (std::size_t i = 0; i < numbers.size(); ++i)
            for (std::size_t j = i + 1; j < numbers.size(); ++j)
                EXPECT_FALSE(numbers[i].adjusted(0.2, 0.2, -0.2, -0.2).intersects(numbers[j]))
                    << i << " and " << j << " overlap";
        const QString text = Tool("pdftotext", {"-layout", pdf, "-"});
        const bool saysUnnumbered = text.contains("ringed on the map without a number");
        EXPECT_EQ(saysUnnumbered, c.crowded) << text.toStdString();
        if (c.crowded) {
            EXPECT_GT(numbers.size(), 10u);
            EXPECT_LT(numbers.size(), static_cast<std::size_t>(c.count));
        }
    }
}

}  // namespace
