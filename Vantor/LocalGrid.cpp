#include "LocalGrid.h"

#include <GeographicLib/AzimuthalEquidistant.hpp>

#include <cmath>

namespace gps
{

std::optional<LocalGrid> LocalGrid::Make(double latOrigin, double lonOrigin)
{
    if (!std::isfinite(latOrigin) || !std::isfinite(lonOrigin) || std::fabs(latOrigin) > 90.0 ||
        std::fabs(lonOrigin) > 180.0)
        return std::nullopt;
    return LocalGrid(GeoPosition{latOrigin, lonOrigin});
}

LocalPoint LocalGrid::ToLocal(const GeoPosition& position) const
{
    // One projection object for the process: its methods are const and its
    // construction is thread-safe as a function-local static.
    static const GeographicLib::AzimuthalEquidistant projection;
    LocalPoint point;
    double azimuth = 0.0;
    double scale = 0.0;
    projection.Forward(origin.latitude, origin.longitude, position.latitude, position.longitude,
                       point.x, point.y, azimuth, scale);
    return point;
}

} // namespace gps
