#include "mapview/staticmap.h"

#include "common/numtext.h"
#include "mapview/overlay.h"

#include <QBuffer>
#include <QImageReader>

#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <mutex>

namespace qgrad {

std::string BuildStaticMapUrl(const std::string& endpoint, const std::string& lonText, const std::string& latText,
                              const std::string& zoomText, const std::string& widthText,
                              const std::string& heightText) {
    return endpoint + "/1.x/?ll=" + lonText + "," + latText + "&size=" + widthText + "," + heightText + "&z=" +
           zoomText + "&l=sat,skl&lang=ru_RU";
}

std::string MapRequestUrl(const std::string& endpoint, const MapFrame& frame) {
    return BuildStaticMapUrl(endpoint, FormatGeneral(frame.centreLon), FormatGeneral(frame.centreLat),
                             std::to_string(frame.zoom), std::to_string(kMapWidth), std::to_string(kMapHeight));
}

namespace {

struct Answer {
    QByteArray body;
    bool tooLarge = false;
};

// Stops the transfer, by taking less than offered, once the answer passes
// the limit: a server may send without end or declare no length.
std::size_t AppendBody(char* data, std::size_t size, std::size_t count, void* to) {
    auto* answer = static_cast<Answer*>(to);
    const std::size_t n = size * count;
    if (answer->body.size() + static_cast<qsizetype>(n) > kMaxMapAnswerBytes) {
        answer->tooLarge = true;
        return 0;
    }
    answer->body.append(data, static_cast<qsizetype>(n));
    return n;
}

// Ends the transfer once the fetcher is cancelled.
int StopWhenCancelled(void* cancelled, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<std::atomic<bool>*>(cancelled)->load() ? 1 : 0;
}

std::string FailureText(CURLcode code, const char* detail, bool tooLarge) {
    if (tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        return "the map service's answer is larger than " + std::to_string(kMaxMapAnswerBytes >> 20) + " MB";
    const std::string why = *detail ? detail : curl_easy_strerror(code);
    if (code == CURLE_UNSUPPORTED_PROTOCOL) return "the map request was refused: only HTTPS is used (" + why + ")";
    return "the map request failed: " + why;
}

MapFailureKind FailureKind(CURLcode code, const char* detail, bool tooLarge) {
    if (tooLarge) return MapFailureKind::BadAnswer;
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return MapFailureKind::NoNetwork;
    case CURLE_COULDNT_CONNECT:
        // The same code for a server that says no and for a cable pulled out.
        return std::string(detail).find("nreachable") != std::string::npos ? MapFailureKind::NoNetwork
                                                                            : MapFailureKind::Refused;
    case CURLE_OPERATION_TIMEDOUT:
        return MapFailureKind::TimedOut;
    case CURLE_FILESIZE_EXCEEDED:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_GOT_NOTHING:
        return MapFailureKind::BadAnswer;
    case CURLE_ABORTED_BY_CALLBACK:
        return MapFailureKind::Cancelled;
    default:
        return MapFailureKind::Refused;
    }
}

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};

}  // namespace

HttpsSettings HttpsSettingsFromEnvironment() {
    HttpsSettings settings;
    if (const char* endpoint = std::getenv(kMapEndpointVariable); endpoint && *endpoint) settings.endpoint = endpoint;
    if (const char* caFile = std::getenv(kMapCaFileVariable); caFile && *caFile) settings.caFile = caFile;
    return settings;
}

MapAnswer CurlMapFetcher::Get(const std::string& url) {
    static std::once_flag init;
    std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) return {std::nullopt, MapFailureKind::Refused, "the map request failed: the HTTP client could not start"};
    Answer answer;
    char detail[CURL_ERROR_SIZE] = "";
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, detail);
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(c, CURLOPT_USERAGENT, kMapUserAgent);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxMapAnswerBytes));
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, settings_.connectTimeoutMs);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, settings_.totalTimeoutMs);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!settings_.caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, settings_.caFile.c_str());
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, StopWhenCancelled);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &cancelled_);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    if (cancelled_) return {std::nullopt, MapFailureKind::Cancelled, "the map request was cancelled"};
    const CURLcode code = curl_easy_perform(c);
    if (code != CURLE_OK)
        return {std::nullopt, FailureKind(code, detail, answer.tooLarge), FailureText(code, detail, answer.tooLarge)};
    return {answer.body, MapFailureKind::None, {}};
}

MapAnswer CurlMapFetcher::FetchMap(const MapFrame& frame) {
    return Get(MapRequestUrl(settings_.endpoint, frame));
}

std::optional<QImage> DecodeMapPicture(const QByteArray& jpeg, std::string& failure) {
    QBuffer buffer;
    buffer.setData(jpeg);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "JPEG");
    const QSize size = reader.size();
    if (!size.isValid()) {
        failure = "the map service's answer is not a JPEG picture";
        return std::nullopt;
    }
    if (size.width() > kMapWidth || size.height() > kMapHeight) {
        failure = "the map picture is " + std::to_string(size.width()) + " x " + std::to_string(size.height()) +
                  " pixels, more than " + std::to_string(kMapWidth) + " x " + std::to_string(kMapHeight);
        return std::nullopt;
    }
    QImage image;
    if (!reader.read(&image)) {
        failure = "the map picture does not decode: " + reader.errorString().toStdString();
        return std::nullopt;
    }
    return image;
}

void ComposeSurveyMap(const MapAnswer& answer, const MapFrame& frame, const std::vector<float>& lon,
                      const std::vector<float>& lat, ComposedMap& out) {
    out.base = QImage(kMapWidth, kMapHeight, QImage::Format_RGB32);
    out.base.fill(PlainMapFill());
    out.failure = answer.failure;
    out.failureReason = answer.reason;
    if (answer.body) {
        if (const std::optional<QImage> image = DecodeMapPicture(*answer.body, out.failureReason))
            out.base = image->convertToFormat(QImage::Format_RGB32);
        else
            out.failure = MapFailureKind::BadAnswer;
    }
    DrawScaleBar(out.base, frame, 20, 20);
    out.track = out.base.copy();
    DrawTrackOnMap(out.track, frame, lon, lat);
}

}  // namespace qgrad
