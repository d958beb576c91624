// The instrument's way of writing numbers and its header, shared by the
// generators of single runs and of campaigns.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

namespace qgrad::bench {

inline constexpr int kGeneratedChannels = 12;

// Uniform in [0, 1) from the generator's bits: defined the same everywhere.
inline double Uniform(std::mt19937_64& rng) { return static_cast<double>(rng() >> 11) * 0x1.0p-53; }

inline void Append(std::string& out, double v, int decimals) {
    char buf[48];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    out.append(buf, r.ptr);
}

inline void AppendInt(std::string& out, long long v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

// Degrees as the receiver writes them: ddmm.mmmm.
inline double Nmea(double degrees) {
    const double d = std::floor(degrees);
    return d * 100 + (degrees - d) * 60;
}

// hhmmss of a second of the day, wrapping at midnight.
inline void AppendTimeOfDay(std::string& out, long long second) {
    AppendInt(out, (second / 3600 % 24) * 10000 + (second / 60 % 60) * 100 + second % 60);
}

// The four heading rows; `offsetRight` and `offsetBehind` give each sensor's
// place in centimetres.
template <typename Right, typename Behind>
void AppendHeader(std::string& out, std::uint64_t run, Right offsetRight, Behind offsetBehind, bool tenths) {
    out += "Quenor QG-12 gradiometer;serial 1207;run " + std::to_string(run) + ";\r\n";
    out += "Sensor offsets, cm;x right;y behind";
    for (int k = 0; k < kGeneratedChannels; ++k) {
        out += ';';
        AppendInt(out, offsetRight(k));
        out += ';';
        AppendInt(out, offsetBehind(k));
    }
    out += "\r\n";
    out += "Time;Latitude,N;Longitude,E;Dist";
    const char* fieldUnit = tenths ? "x0.1nT" : ",nT";
    const char* gradUnit = tenths ? "x0.1nT/m" : ",nT/m";
    for (int k = 1; k <= kGeneratedChannels; ++k)
        out += ";S" + std::to_string(k) + " H" + fieldUnit + ";S" + std::to_string(k) + " dH" + gradUnit;
    out += "\r\n";
    out += "hhmmss;ddmm.mmmm;dddmm.mmmm;m;readings\r\n";
}

}  // namespace qgrad::bench
