// LocalGrid: metres east and north of an origin, for a navigator working in
// a flat local frame.
//
// The grid is the azimuthal equidistant projection about the origin on the
// WGS84 ellipsoid (GeographicLib): a point's (x, y) has the length of the
// geodesic from the origin and its direction is the geodesic's azimuth at the
// origin. So range and bearing from the origin are exact at any distance,
// and no height is needed (a local tangent plane would need one and shortens
// ranges as the earth curves away from it). A value, immutable once made:
// any thread may use a shared one.
#ifndef VANTOR_LOCALGRID_H
#define VANTOR_LOCALGRID_H

#include "NmeaFields.h"

#include <optional>

namespace gps
{

struct LocalPoint
{
    double x = 0.0; // metres east of the origin
    double y = 0.0; // metres north of the origin
};

class LocalGrid
{
public:
    // The grid about an origin in signed decimal degrees; std::nullopt unless
    // both are finite, latitude within [-90, 90] and longitude within
    // [-180, 180].
    static std::optional<LocalGrid> Make(double latOrigin, double lonOrigin);

    LocalPoint ToLocal(const GeoPosition& position) const;

    GeoPosition Origin() const { return origin; }

private:
    explicit LocalGrid(const GeoPosition& originIn) : origin(originIn) {}

    GeoPosition origin;
};

} // namespace gps

#endif
