#pragma once
// A position on the earth in decimal degrees, north and east positive, kept
// in double precision from the read thread to the map and the exports.
#include <cmath>

struct GeoPoint {
    double lat = 0;
    double lon = 0;

    // Finite and within ±90 degrees of latitude and ±180 of longitude.
    static bool inRange(double lat, double lon)
    {
        return std::isfinite(lat) && std::isfinite(lon) && std::fabs(lat) <= 90.0 && std::fabs(lon) <= 180.0;
    }
    bool isValid() const { return inRange(lat, lon); }
    bool operator==(const GeoPoint &o) const { return lat == o.lat && lon == o.lon; }
    bool operator!=(const GeoPoint &o) const { return !(*this == o); }
};
