// The satellite image of the survey area: the request URL, the HTTPS GET,
// and the composition of the map picture.
#pragma once

#include "mapview/mapframe.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace qgrad {

inline constexpr const char* kStaticMapEndpoint = "https://static-maps.yandex.ru";
inline constexpr const char* kMapUserAgent = "Mozilla/5.0 (Windows NT 6.1; WOW64; rv:12.0) Gecko/20100101 Firefox/12.0";

// endpoint + "/1.x/?ll=LON,LAT&size=W,H&z=ZOOM&l=sat,skl&lang=ru_RU": plain
// concatenation, no checks, no escaping.
std::string BuildStaticMapUrl(const std::string& endpoint, const std::string& lonText, const std::string& latText,
                              const std::string& zoomText, const std::string& widthText,
                              const std::string& heightText);
// The request for a frame: its centre in the general number text, longitude first.
std::string MapRequestUrl(const std::string& endpoint, const MapFrame& frame);

// Why the satellite picture could not be had, as the surveyor can act on it.
enum class MapFailureKind {
    None,
    NoNetwork,  // the service's name does not resolve or its network is unreachable
    Refused,    // the connection, the certificate or the request was turned down
    TimedOut,
    BadAnswer,  // an answer came, but no picture of the frame's size in it
    Cancelled,
};

// What the map service gave for a frame: its answer, or why there is none.
struct MapAnswer {
    std::optional<QByteArray> body;
    MapFailureKind failure = MapFailureKind::None;
    std::string reason;  // in one line; empty when there is an answer
};

// The image for a frame: one synchronous request.
class MapFetcher {
public:
    virtual ~MapFetcher() = default;
    virtual MapAnswer FetchMap(const MapFrame& frame) = 0;
    // From any thread: a request under way ends at once, with nothing, and
    // so does every later one.
    virtual void Cancel() {}
};

struct HttpsSettings {
    std::string endpoint = kStaticMapEndpoint;
    std::string caFile;  // empty: the system's certificate bundle
    long connectTimeoutMs = 10000;
    long totalTimeoutMs = 30000;
};

// The map service's address and CA file named by the environment, for
// both front ends: QGRAD_MAP_ENDPOINT and QGRAD_MAP_CAFILE; the defaults
// where a variable is unset or empty.
inline constexpr const char* kMapEndpointVariable = "QGRAD_MAP_ENDPOINT";
inline constexpr const char* kMapCaFileVariable = "QGRAD_MAP_CAFILE";
HttpsSettings HttpsSettingsFromEnvironment();

// A map picture is some hundred kilobytes; an answer beyond this is no map.
inline constexpr long kMaxMapAnswerBytes = 4 << 20;

// libcurl over OpenSSL: HTTPS only, for the request and every redirect; the
// server certificate verified; an error status or an answer of more than
// kMaxMapAnswerBytes counted as a failure.
class CurlMapFetcher : public MapFetcher {
public:
    explicit CurlMapFetcher(HttpsSettings settings = {}) : settings_(std::move(settings)) {}
    MapAnswer FetchMap(const MapFrame& frame) override;
    // One GET of any URL.
    MapAnswer Get(const std::string& url);
    const HttpsSettings& settings() const { return settings_; }
    void Cancel() override { cancelled_ = true; }

private:
    HttpsSettings settings_;
    std::atomic<bool> cancelled_{false};
};

struct ComposedMap {
    QImage base;   // the image (or the plain fill) with the scale bar
    QImage track;  // the base with the track: the picture shown
    // Why the base is the plain fill: the request's failure, or the answer
    // not taken as the image (BadAnswer), in one line; empty with the image.
    MapFailureKind failure = MapFailureKind::None;
    std::string failureReason;
};

// The map service's answer as a picture of at most 650 x 450 pixels. A
// larger one is refused from its header, before any pixel is decoded: the
// overlay fits the frame's 650 x 450, and a few kilobytes may declare a
// picture of hundreds of megabytes. Nothing, with `failure` set, when the
// answer is refused or does not decode.
std::optional<QImage> DecodeMapPicture(const QByteArray& jpeg, std::string& failure);

// Decodes the answer with DecodeMapPicture (a plain 650 x 450 fill when
// there is none or it is refused), draws the scale bar at (20, 20) and the track on a copy. A track
// that cannot be drawn throws std::range_error after `out` holds the picture.
void ComposeSurveyMap(const MapAnswer& answer, const MapFrame& frame, const std::vector<float>& lon,
                      const std::vector<float>& lat, ComposedMap& out);

}  // namespace qgrad
