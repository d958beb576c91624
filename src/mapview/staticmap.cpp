#include "mapview/staticmap.h"

#include "common/numtext.h"
#include "mapview/overlay.h"

#include <curl/curl.h>

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

std::size_t AppendBody(char* data, std::size_t size, std::size_t count, void* body) {
    static_cast<QByteArray*>(body)->append(data, static_cast<qsizetype>(size * count));
    return size * count;
}

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};

}  // namespace

std::optional<QByteArray> CurlMapFetcher::Get(const std::string& url) {
    static std::once_flag init;
    std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) return std::nullopt;
    QByteArray body;
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_USERAGENT, kMapUserAgent);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, settings_.connectTimeoutMs);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, settings_.totalTimeoutMs);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!settings_.caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, settings_.caFile.c_str());
    if (curl_easy_perform(c) != CURLE_OK) return std::nullopt;
    return body;
}

std::optional<QByteArray> CurlMapFetcher::FetchMap(const MapFrame& frame) {
    return Get(MapRequestUrl(settings_.endpoint, frame));
}

void ComposeSurveyMap(const std::optional<QByteArray>& jpeg, const MapFrame& frame, const std::vector<float>& lon,
                      const std::vector<float>& lat, ComposedMap& out) {
    out.base = QImage(kMapWidth, kMapHeight, QImage::Format_RGB32);
    out.base.fill(PlainMapFill());
    if (jpeg) {
        QImage image;
        if (image.loadFromData(*jpeg, "JPEG")) out.base = image.convertToFormat(QImage::Format_RGB32);
    }
    DrawScaleBar(out.base, frame, 20, 20);
    out.track = out.base.copy();
    DrawTrackOnMap(out.track, frame, lon, lat);
}

}  // namespace qgrad
