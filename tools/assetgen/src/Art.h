#pragma once
#include <cairo.h>

#include <string>

#include "Common.h"

namespace assetgen {

// Draws the whole sheet of one object (all frames on their grid), premultiplied ARGB.
cairo_surface_t* DrawSheet(const SheetSpec& sheet);

// Cave flesh: shades a coverage shape (white where the rock is) into lit, veined tissue.
// lightX/lightY point towards the light in picture coordinates (y down).
// vessels (optional, same size): white where a blood vessel runs over the surface.
void ShadeFlesh(cairo_surface_t* coverage, uint64_t seed, double lightX, double lightY,
                double baseY0, double baseY1, cairo_surface_t* vessels = nullptr);

// One frame of a named object (frame size w x h), drawn centred at (cx, cy), scaled.
void DrawObjectFrame(cairo_t* cr, const std::string& name, int w, int h, int frame, double cx,
                     double cy, double scale);

// Shapes shared with the pictures.
void DrawSperm(cairo_t* cr, double headX, double cy, double length, double scale, double phase,
               bool golden, double alpha = 1.0);
void DrawBubble(cairo_t* cr, double cx, double cy, double rx, double ry);
void DrawCondomRing(cairo_t* cr, double cx, double cy, double halfH, double thick);

}  // namespace assetgen
