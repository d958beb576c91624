#include "mapview/mapframe.h"
#include "mapview/markers.h"
#include "mapview/overlay.h"
#include "mapview/staticmap.h"
#include "tlsserver.h"

#include "testapp.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <stdexcept>
#include <thread>

using namespace qgrad;

namespace {

class MapViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qgrad::testing::EnsureApplication<QGuiApplication>(); }
};

MapFrame Frame(double lon, double lat, int zoom) {
    MapFrame f;
    f.centreLon = lon;
    f.centreLat = lat;
    f.zoom = static_cast<std::uint8_t>(zoom);
    return f;
}

TEST_F(MapViewTest, ProjectionAndItsRange) {
    const MapFrame f = Frame(37.5, 55.75, 16);
    EXPECT_EQ(GeoToMapPixel(f, 37.5f, 55.75f), QPoint(325, 225));
    // East is right, north is up; one degree of longitude is 2^16 * 256 / 360 px.
    const QPoint east = GeoToMapPixel(f, 37.501f, 55.75f);
    EXPECT_EQ(east.x(), static_cast<int>(std::nearbyint(65536.0 * (37.501f - 37.5) * 256 / 360 + 325)));
    EXPECT_LT(GeoToMapPixel(f, 37.5f, 55.751f).y(), 225);
    EXPECT_THROW(GeoToMapPixel(Frame(0, 0, 40), 180.0f, 0.0f), std::range_error);
}

TEST_F(MapViewTest, ZoomFitsTheTrackOrKeepsThePreviousLevel) {
    MapFrame f = Frame(0, 0, 18);
    FitFrameToTrack({37.5f}, {55.75f}, ZoomPrecision::Single, f);
    EXPECT_EQ(f.zoom, 18);  // one row: no extent
    EXPECT_EQ(f.centreLon, 37.5);
    f.zoom = 12;
    FitFrameToTrack({37.5f, 37.5f}, {55.7f, 55.8f}, ZoomPrecision::Single, f);
    EXPECT_EQ(f.zoom, 12);  // all on one meridian
    FitFrameToTrack({37.5f, 37.50001f}, {55.75f, 55.75001f}, ZoomPrecision::Single, f);
    EXPECT_EQ(f.zoom, 18);  // a very short track: capped
    FitFrameToTrack({37.50f, 37.51f}, {55.745f, 55.75f}, ZoomPrecision::Single, f);
    EXPECT_EQ(f.zoom, 16);
    // The centre is the mean, not the middle of the extent.
    FitFrameToTrack({0.0f, 0.0f, 3.0f}, {1.0f, 1.0f, 4.0f}, ZoomPrecision::Double, f);
    EXPECT_EQ(f.centreLon, 1.0);
    EXPECT_EQ(f.centreLat, 2.0);
    EXPECT_THROW(FitFrameToTrack({}, {}, ZoomPrecision::Double, f), std::invalid_argument);
}

TEST_F(MapViewTest, ZoomRoundedTo32BitAfterAnOpening) {
    // Find an extent whose level lies a hair below 16: 32-bit rounding lifts
    // it to 16, 64-bit keeps 15.
    float extent = 234000.0f / 16777216.0f;
    for (int i = 0; i < 1000; ++i, extent = std::nextafter(extent, 1.0f)) {
        const double zx = std::log2(234000.0 / extent) - 8;
        if (zx < 16 && static_cast<float>(zx) == 16.0f) break;
    }
    MapFrame single = Frame(0, 0, 18);
    MapFrame twice = single;
    FitFrameToTrack({0.0f, extent}, {10.0f, 10.0001f}, ZoomPrecision::Single, single);
    FitFrameToTrack({0.0f, extent}, {10.0f, 10.0001f}, ZoomPrecision::Double, twice);
    EXPECT_EQ(single.zoom, 16);
    EXPECT_EQ(twice.zoom, 15);
}

TEST_F(MapViewTest, ScaleBarGeometry) {
    const struct {
        const char* name;
        double lat;
        int zoom;
        long long width, height;
        long long step;
        int pixels;
    } cases[] = {
        {"a field at 55.75 N", 55.75, 16, 874, 605, 100, 74},
        {"closest at the equator", 0, 18, 388, 269, 50, 84},
        {"25 km: past the old table's 1 km", 0, 12, 24842, 17198, 5000, 131},
        {"220 km across", 55.75, 8, 223700, 154869, 20000, 58},
        {"the whole world", 0, 0, 101752972, 70444365, 10000000, 64},
    };
    for (const auto& c : cases) {
        const ScaleBar bar = ComputeScaleBar(Frame(37.5, c.lat, c.zoom), 20);
        EXPECT_EQ(std::llround(bar.widthMetres), c.width) << c.name;
        EXPECT_EQ(std::llround(bar.heightMetres), c.height) << c.name;
        EXPECT_EQ(bar.step, c.step) << c.name;
        EXPECT_EQ(bar.x0, 20);
        EXPECT_EQ(bar.x1 - bar.x0, c.pixels) << c.name;
    }
    // At a pole the ground has no width: the bar's end is beyond any pixel.
    EXPECT_THROW(ComputeScaleBar(Frame(37.5, 90, 18), 20), std::range_error);
    EXPECT_THROW(ComputeScaleBar(Frame(37.5, 89.9999999, 18), 20), std::range_error);
}

TEST_F(MapViewTest, ScaleStepIsTheNiceLengthNearestASeventh) {
    const struct {
        const char* name;
        double width;
        long long step;
    } cases[] = {
        {"tie between 10 and 20 goes to the shorter", 105.0, 10},
        {"just past the tie", 105.1, 20},
        {"narrower than any step", 1.0, 10},
        {"1 km up to a seventh of 10.5 km", 10499.0, 1000},
        {"2 km from there", 10501.0, 2000},
        {"tie between 2 and 5 km", 24500.0, 2000},
        {"a hundred kilometres", 1e5, 10000},
        {"a thousand kilometres", 1e6, 100000},
        {"never longer than the frame", 1.4e4, 2000},
    };
    for (const auto& c : cases) EXPECT_EQ(ChooseScaleStep(c.width), c.step) << c.name;
}

TEST_F(MapViewTest, ScaleLabelsInMetresThenKilometres) {
    const struct {
        const char* name;
        double metres;
        const char* text;
    } cases[] = {
        {"metres rounded half to even", 874.5, "874m"},
        {"the old table's longest step", 1000, "1000m"},
        {"just under 10 km", 9999.4, "9999m"},
        {"rounds up into kilometres", 9999.6, "10km"},
        {"one decimal", 24842, "24.8km"},
        {"a whole number of kilometres", 20000, "20km"},
        {"a decimal that rounds away", 154990, "155km"},
    };
    for (const auto& c : cases) EXPECT_EQ(ScaleLengthText(c.metres), c.text) << c.name;
}

QImage Plain() {
    QImage image(kMapWidth, kMapHeight, QImage::Format_RGB32);
    image.fill(PlainMapFill());
    return image;
}

int CountColour(const QImage& image, QRgb colour, QRect area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixel(x, y) == colour) ++n;
    return n;
}

TEST_F(MapViewTest, ScaleBarPixels) {
    QImage image = Plain();
    DrawScaleBar(image, Frame(37.5, 55.75, 16), 20, 20);
    const QRgb black = qRgb(0, 0, 0), white = qRgb(255, 255, 255);
    for (int x : {21, 50, 93}) {
        EXPECT_EQ(image.pixel(x, 20), black) << x;  // the bar, black on its white edge
        EXPECT_EQ(image.pixel(x, 19), white) << x;
        EXPECT_EQ(image.pixel(x, 21), white) << x;
    }
    EXPECT_EQ(image.pixel(20, 16), black);  // the left tick
    EXPECT_EQ(image.pixel(94, 24), black);  // the right tick
    EXPECT_EQ(image.pixel(96, 20), PlainMapFill().rgb());
    // The three labels are white text at their corners.
    EXPECT_GT(CountColour(image, white, QRect(325, 432, 40, 16)), 10);
    EXPECT_GT(CountColour(image, white, QRect(5, 225, 40, 16)), 10);
    EXPECT_GT(CountColour(image, white, QRect(25, 26, 40, 16)), 10);
    EXPECT_EQ(CountColour(image, white, QRect(400, 100, 100, 100)), 0);
}

TEST_F(MapViewTest, ScaleBarLabelOfAWideFrameIsInKilometres) {
    // 220 km across: a 20 km bar, long enough to see, with its label beside it.
    QImage image = Plain();
    DrawScaleBar(image, Frame(37.5, 55.75, 8), 20, 20);
    EXPECT_EQ(image.pixel(70, 20), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(78, 24), qRgb(0, 0, 0));  // the right tick
    EXPECT_GT(CountColour(image, qRgb(255, 255, 255), QRect(25, 26, 40, 16)), 10);
}

TEST_F(MapViewTest, TrackPixels) {
    const QRgb lime = qRgb(0, 255, 0);
    const MapFrame f = Frame(37.5, 55.75, 16);
    QImage one = Plain();
    DrawTrackOnMap(one, f, {37.5f}, {55.75f});
    EXPECT_EQ(CountColour(one, lime, one.rect()), 4);
    EXPECT_EQ(one.pixel(326, 226), lime);

    // A middle entry at latitude 0 is skipped: the line runs straight on.
    const float lonA = 37.499f, lonB = 37.501f;
    QImage skip = Plain();
    DrawTrackOnMap(skip, f, {lonA, 37.5f, lonB}, {55.75f, 0.0f, 55.75f});
    const QPoint a = GeoToMapPixel(f, lonA, 55.75f), b = GeoToMapPixel(f, lonB, 55.75f);
    for (int x = a.x(); x <= b.x(); ++x) EXPECT_EQ(skip.pixel(x, 225), lime) << x;
    EXPECT_EQ(CountColour(skip, lime, QRect(0, 0, 650, 220)), 0);

    // A first entry at latitude 0 is drawn: the line comes in from outside.
    QImage first = Plain();
    DrawTrackOnMap(first, f, {37.5f, 37.5f}, {0.0f, 55.75f});
    for (int y = 227; y < kMapHeight; y += 37) EXPECT_EQ(first.pixel(325, y), lime) << y;

    // Beyond the pixel range: a failure, with the track drawn so far.
    QImage broken = Plain();
    EXPECT_THROW(DrawTrackOnMap(broken, Frame(0, 0, 40), {0.0f, 1e-11f, 180.0f}, {0.0f, 1e-12f, 1e-12f}),
                 std::range_error);
    EXPECT_GT(CountColour(broken, lime, broken.rect()), 0);
}

TEST_F(MapViewTest, MarkerAndRingPlaces) {
    const MapFrame f = Frame(37.5, 55.75, 16);
    const CursorPlacement full = PlaceCursor(f, 650, 37.5f, 55.75f, QSize(13, 13), 19);
    EXPECT_EQ(full.ring, QPoint(318, 218));
    EXPECT_EQ(full.label, QPoint(328, 189));
    EXPECT_EQ(PlaceMarker(f, 650, 37.5f, 55.75f, QSize(25, 25)), QPoint(313, 200));
    EXPECT_EQ(PlaceMarker(f, 650, 37.5f, 55.75f, QSize(42, 24)), QPoint(304, 201));
    const CursorPlacement half = PlaceCursor(f, 325, 37.5f, 55.75f, QSize(13, 13), 19);
    EXPECT_EQ(half.ring, QPoint(156, 106));
    EXPECT_EQ(PlaceMarker(f, 325, 37.5f, 55.75f, QSize(25, 25)), QPoint(150, 87));
    EXPECT_EQ(full.text, CursorLabelText(37.5f, 55.75f));
}

TEST_F(MapViewTest, RingLabelIsLatitudeThenLongitudeWithHemispheres) {
    const struct {
        const char* name;
        float lon, lat;
        const char* text;
    } cases[] = {
        {"north-east", 37.5f, 55.75f, "55.750000\u00B0N, 37.500000\u00B0E"},
        {"south-west", -58.25f, -34.5f, "34.500000\u00B0S, 58.250000\u00B0W"},
        {"32-bit value rounded to six decimals", 37.4f, 55.7f, "55.700001\u00B0N, 37.400002\u00B0E"},
        {"on the equator and the prime meridian", 0.0f, 0.0f, "0.000000\u00B0, 0.000000\u00B0"},
        {"a hair south of the equator rounds onto it", 10.0f, -1e-8f, "0.000000\u00B0, 10.000000\u00B0E"},
        {"the date line's west side", -180.0f, 1.0f, "1.000000\u00B0N, 180.000000\u00B0W"},
    };
    for (const auto& c : cases) EXPECT_EQ(CursorLabelText(c.lon, c.lat), QString::fromUtf8(c.text)) << c.name;
}


TEST_F(MapViewTest, RequestTextAndImage) {
    EXPECT_EQ(BuildStaticMapUrl("https://h", "37.5", "55.75", "16", "650", "450"),
              "https://h/1.x/?ll=37.5,55.75&size=650,450&z=16&l=sat,skl&lang=ru_RU");
    EXPECT_EQ(MapRequestUrl("https://h", Frame(-0.000001, 51.5, 18)),
              "https://h/1.x/?ll=-1E-6,51.5&size=650,450&z=18&l=sat,skl&lang=ru_RU");

    qgrad::testing::TlsServer server;
    server.SetAnswer(200, "image/jpeg", qgrad::testing::JpegOf(QColor(200, 30, 30)));
    HttpsSettings settings;
    settings.endpoint = server.url();
    settings.caFile = server.certificateFile();
    CurlMapFetcher fetcher(settings);
    const MapAnswer answer = fetcher.FetchMap(Frame(37.5, 55.75, 16));
    ASSERT_TRUE(answer.body.has_value());
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")),
              "GET /1.x/?ll=37.5,55.75&size=650,450&z=16&l=sat,skl&lang=ru_RU HTTP/1.1");
    EXPECT_NE(requests[0].find("\r\nUser-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64; rv:12.0) Gecko/20100101 "
                               "Firefox/12.0\r\n"),
              std::string::npos);

    ComposedMap map;
    ComposeSurveyMap(answer, Frame(37.5, 55.75, 16), {37.5f}, {55.75f}, map);
    EXPECT_EQ(map.failure, MapFailureKind::None);
    const QColor corner = map.base.pixelColor(600, 400);
    EXPECT_NEAR(corner.red(), 200, 8);
    EXPECT_NEAR(corner.green(), 30, 8);
    EXPECT_EQ(map.track.pixel(325, 225), qRgb(0, 255, 0));
}

TEST_F(MapViewTest, FailedRequestsLeaveThePlainFill) {
    qgrad::testing::TlsServer server;
    HttpsSettings settings;
    settings.endpoint = server.url();
    settings.caFile = server.certificateFile();

    server.SetAnswer(404, "text/plain", "not here");
    EXPECT_FALSE(CurlMapFetcher(settings).FetchMap(Frame(37.5, 55.75, 16)).body.has_value());

    server.SetAnswer(200, "text/html", "<html>no image</html>");
    const auto notJpeg = CurlMapFetcher(settings).FetchMap(Frame(37.5, 55.75, 16));
    ComposedMap map;
    ComposeSurveyMap(notJpeg, Frame(37.5, 55.75, 16), {37.5f}, {55.75f}, map);
    EXPECT_EQ(map.failure, MapFailureKind::BadAnswer);
    EXPECT_EQ(map.base.size(), QSize(650, 450));
    EXPECT_EQ(map.base.pixelColor(600, 400), PlainMapFill());
    EXPECT_EQ(map.track.pixel(325, 225), qRgb(0, 255, 0));  // track and bar all the same
    EXPECT_EQ(map.base.pixel(50, 20), qRgb(0, 0, 0));

    // Without our certificate the server is not trusted.
    HttpsSettings system = settings;
    system.caFile.clear();
    server.SetAnswer(200, "image/jpeg", qgrad::testing::JpegOf(Qt::red));
    EXPECT_FALSE(CurlMapFetcher(system).FetchMap(Frame(37.5, 55.75, 16)).body.has_value());

    // A server that never answers: the whole request gives up in time.
    server.SetMode(qgrad::testing::TlsServer::Mode::Silent);
    HttpsSettings quick = settings;
    quick.totalTimeoutMs = 400;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(CurlMapFetcher(quick).FetchMap(Frame(37.5, 55.75, 16)).body.has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));  // a bound, not a timing
}

TEST_F(MapViewTest, CancelEndsARequestThatHangs) {
    qgrad::testing::TlsServer server;
    server.SetMode(qgrad::testing::TlsServer::Mode::Silent);
    HttpsSettings settings;
    settings.endpoint = server.url();
    settings.caFile = server.certificateFile();
    CurlMapFetcher fetcher(settings);  // the default 30 s time-out
    std::thread closing([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        fetcher.Cancel();
    });
    const auto t0 = std::chrono::steady_clock::now();
    const MapAnswer hung = fetcher.FetchMap(Frame(37.5, 55.75, 16));
    EXPECT_FALSE(hung.body.has_value());
    closing.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));  // well before the time-out
    EXPECT_FALSE(hung.reason.empty());
    // Every later request ends at once.
    const MapAnswer later = fetcher.FetchMap(Frame(37.5, 55.75, 16));
    EXPECT_FALSE(later.body.has_value());
    EXPECT_EQ(later.reason, "the map request was cancelled");
}

// The JPEG with its frame header declaring another size; its data stay
// those of the 650 x 450 picture.
QByteArray DeclaringSize(QByteArray jpeg, int width, int height) {
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");  // baseline frame: length, precision, height, width
    if (sof < 0) throw std::logic_error("no baseline frame header");
    jpeg[sof + 5] = static_cast<char>(height >> 8);
    jpeg[sof + 6] = static_cast<char>(height & 0xFF);
    jpeg[sof + 7] = static_cast<char>(width >> 8);
    jpeg[sof + 8] = static_cast<char>(width & 0xFF);
    return jpeg;
}

TEST_F(MapViewTest, HostileAnswersLeaveThePlainFillWithAReason) {
    qgrad::testing::TlsServer server;
    HttpsSettings settings;
    settings.endpoint = server.url();
    settings.caFile = server.certificateFile();
    const QByteArray red = qgrad::testing::JpegOf(Qt::red);
    const QByteArray huge(kMaxMapAnswerBytes + 1, '\xFF');
    const struct {
        const char* name;
        std::string redirect;  // empty: none
        qgrad::testing::TlsServer::Mode mode = qgrad::testing::TlsServer::Mode::Answer;
        QByteArray body;
        const char* failure;  // nullptr: the image is fetched
    } cases[] = {
        {"redirect to http", "http://127.0.0.1:" + std::to_string(server.port()) + "/x", {}, red, "only HTTPS"},
        {"redirect to ftp", "ftp://127.0.0.1/x.jpg", {}, red, "only HTTPS"},
        {"redirect to https", server.url() + "/moved", {}, red, nullptr},
        {"endless body", "", qgrad::testing::TlsServer::Mode::Endless, {}, "larger than 4 MB"},
        {"declared too long", "", {}, huge, "larger than 4 MB"},
    };
    for (const auto& c : cases) {
        server.SetMode(c.mode);
        server.SetAnswer(200, "image/jpeg", c.body);
        if (!c.redirect.empty()) server.RedirectOnce(QByteArray::fromStdString(c.redirect));
        CurlMapFetcher fetcher(settings);
        const MapAnswer answer = fetcher.FetchMap(Frame(37.5, 55.75, 16));
        if (!c.failure) {
            EXPECT_EQ(answer.body, red) << c.name;
            EXPECT_EQ(answer.reason, "") << c.name;
            continue;
        }
        EXPECT_FALSE(answer.body.has_value()) << c.name;
        EXPECT_NE(answer.reason.find(c.failure), std::string::npos) << c.name << ": " << answer.reason;
        EXPECT_EQ(answer.reason.find('\n'), std::string::npos) << c.name;
        ComposedMap map;
        ComposeSurveyMap(answer, Frame(37.5, 55.75, 16), {37.5f}, {55.75f}, map);
        EXPECT_EQ(map.base.pixelColor(600, 400), PlainMapFill()) << c.name;
    }
    // The endless answer was cut off near the limit, not at the time-out.
    EXPECT_LT(server.endlessBytes(), 8 * kMaxMapAnswerBytes);
    // Only the allowed redirect was followed back to the server.
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[3].substr(0, requests[3].find("\r\n")), "GET /moved HTTP/1.1");

    // The request itself goes out over HTTPS only.
    HttpsSettings plain = settings;
    plain.endpoint = "http://127.0.0.1:" + std::to_string(server.port());
    const MapAnswer overHttp = CurlMapFetcher(plain).FetchMap(Frame(37.5, 55.75, 16));
    EXPECT_FALSE(overHttp.body.has_value());
    EXPECT_NE(overHttp.reason.find("only HTTPS"), std::string::npos) << overHttp.reason;
    EXPECT_EQ(server.requests().size(), 6u);
}

TEST_F(MapViewTest, PicturesLargerThanTheFrameAreRefusedBeforeDecoding) {
    const QByteArray jpeg = qgrad::testing::JpegOf(QColor(200, 30, 30));
    const struct {
        const char* name;
        QByteArray answer;
        const char* failure;  // nullptr: taken
    } cases[] = {
        {"the frame's size", jpeg, nullptr},
        {"smaller", DeclaringSize(jpeg, 640, 440), nullptr},
        {"2 KB declaring 5790 x 5790", DeclaringSize(jpeg.left(2048), 5790, 5790),
         "the map picture is 5790 x 5790 pixels, more than 650 x 450"},
        {"declaring 60000 x 60000", DeclaringSize(jpeg, 60000, 60000), "60000 x 60000 pixels"},
        {"one pixel wider", DeclaringSize(jpeg, 651, 450), "651 x 450 pixels"},
        {"one pixel higher", DeclaringSize(jpeg, 650, 451), "650 x 451 pixels"},
        {"no picture", "<html>no image</html>", "not a JPEG picture"},
    };
    for (const auto& c : cases) {
        ComposedMap map;
        ComposeSurveyMap({c.answer}, Frame(37.5, 55.75, 16), {37.5f}, {55.75f}, map);
        if (c.failure) {
            EXPECT_NE(map.failureReason.find(c.failure), std::string::npos) << c.name << ": " << map.failureReason;
            EXPECT_EQ(map.failure, MapFailureKind::BadAnswer) << c.name;
            EXPECT_EQ(map.base.size(), QSize(650, 450)) << c.name;
            EXPECT_EQ(map.base.pixelColor(300, 400), PlainMapFill()) << c.name;
        } else {
            EXPECT_EQ(map.failureReason, "") << c.name;
            EXPECT_EQ(map.failure, MapFailureKind::None) << c.name;
            EXPECT_NEAR(map.base.pixelColor(300, 400).red(), 200, 8) << c.name;
        }
        EXPECT_EQ(map.track.pixel(325, 225), qRgb(0, 255, 0)) << c.name;  // the track is drawn all the same
    }
}

TEST_F(MapViewTest, RefusedConnection) {
    // A port that was just free: nobody listens there.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    HttpsSettings settings;
    settings.endpoint = "https://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    EXPECT_FALSE(CurlMapFetcher(settings).FetchMap(Frame(37.5, 55.75, 16)).body.has_value());
}

}  // namespace

namespace {

// A loopback port that was just free: nobody listens there.
int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

TEST_F(MapViewTest, EachFailureSaysWhatKindItIs) {
    qgrad::testing::TlsServer server;
    using Mode = qgrad::testing::TlsServer::Mode;
    const struct {
        const char* name;
        std::string endpoint;  // empty: the test server
        bool trustServer;
        Mode mode;
        int status;
        MapFailureKind kind;
    } cases[] = {
        {"a picture", "", true, Mode::Answer, 200, MapFailureKind::None},
        {"an error status", "", true, Mode::Answer, 403, MapFailureKind::Refused},
        {"a certificate not trusted", "", false, Mode::Answer, 200, MapFailureKind::Refused},
        {"nobody listening", "https://127.0.0.1:" + std::to_string(FreePort()), true, Mode::Answer, 200,
         MapFailureKind::Refused},
        {"a name that never resolves", "https://no-such-host.invalid", true, Mode::Answer, 200,
         MapFailureKind::NoNetwork},
        {"an answer without end", "", true, Mode::Endless, 200, MapFailureKind::BadAnswer},
        // Last: the one-thread server stays with the silent connection.
        {"a server that never answers", "", true, Mode::Silent, 200, MapFailureKind::TimedOut},
    };
    for (const auto& c : cases) {
        server.SetMode(c.mode);
        server.SetAnswer(c.status, "image/jpeg", qgrad::testing::JpegOf(Qt::red));
        HttpsSettings settings;
        settings.endpoint = c.endpoint.empty() ? server.url() : c.endpoint;
        if (c.trustServer) settings.caFile = server.certificateFile();
        settings.totalTimeoutMs = 1500;
        const MapAnswer answer = CurlMapFetcher(settings).FetchMap(Frame(37.5, 55.75, 16));
        EXPECT_EQ(answer.failure, c.kind) << c.name << ": " << answer.reason;
        EXPECT_EQ(answer.body.has_value(), c.kind == MapFailureKind::None) << c.name;
    }
    CurlMapFetcher cancelled;
    cancelled.Cancel();
    EXPECT_EQ(cancelled.FetchMap(Frame(37.5, 55.75, 16)).failure, MapFailureKind::Cancelled);
}

TEST_F(MapViewTest, TheEnvironmentNamesTheMapService) {
    const struct {
        const char* name;
        const char* endpoint;  // nullptr: unset
        const char* caFile;
        std::string wantEndpoint, wantCaFile;
    } cases[] = {
        {"unset: the public service", nullptr, nullptr, kStaticMapEndpoint, ""},
        {"empty counts as unset", "", "", kStaticMapEndpoint, ""},
        {"a local tile cache", "https://tiles.local:8443", "/etc/ssl/local.pem", "https://tiles.local:8443",
         "/etc/ssl/local.pem"},
        {"only the CA file", nullptr, "/tmp/ca.pem", kStaticMapEndpoint, "/tmp/ca.pem"},
    };
    for (const auto& c : cases) {
        const qgrad::testing::ScopedEnvironment endpoint(kMapEndpointVariable, c.endpoint);
        const qgrad::testing::ScopedEnvironment caFile(kMapCaFileVariable, c.caFile);
        const HttpsSettings s = HttpsSettingsFromEnvironment();
        EXPECT_EQ(s.endpoint, c.wantEndpoint) << c.name;
        EXPECT_EQ(s.caFile, c.wantCaFile) << c.name;
    }
}

}  // namespace
