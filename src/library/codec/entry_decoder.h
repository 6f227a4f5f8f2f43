// Drawing icon entries into the working picture, and the crop box guide lines.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/status_port.h"
#include "core/working_state.h"
#include "library/store/tables.h"
#include "project/project_settings.h"

namespace zemlo {

// Draws the picture entry of `icon` at the place coordinates record `icon` gives. Reads only
// within `entry` and writes only within `picture`: it stops where either ends. A run passing
// the right edge goes on in the next picture row, as stored libraries expect. Shows
// "Caution! iXLen = %x" (owned by `owner`) for every X-masked run longer than a picture row.
void DecodeEntry(int icon, std::span<const std::uint8_t> entry, std::span<std::uint8_t> picture,
                 const CoordinatesTable& coordinates, StatusPort& port, Owner owner);
// The same at the place `record` gives.
// With `drawn`, the rows it wrote into are added to it.
void DecodeEntryAt(const CoordinatesRecord& record, std::span<const std::uint8_t> entry,
                   std::span<std::uint8_t> picture, StatusPort& port, Owner owner,
                   PictureRows* drawn = nullptr);

// The viewer's step: black picture, decode, title "name (mask kind) - icon" for a known kind,
// picture shown, repaint without erasing. With `ink`, only its rows are made black: the caller
// knows every other row of the picture to be black already (a helper's own buffer, where the
// last entry shown drew only a few rows); on return it holds the rows the entry was drawn
// into, outside which the picture is black.
void ShowEntry(int icon, std::span<const std::uint8_t> entry, WorkingState& state,
               const Name& single_entry_name, PictureRows* ink = nullptr);

// A line from (x1, y1) to (x2, y2), the end point left out, in window coordinates.
struct LineSegment {
  int x1, y1, x2, y2;
  friend bool operator==(const LineSegment&, const LineSegment&) = default;
};

// The four guide lines painting draws over the picture (below the button bar) for `box`:
// its top and bottom rows across the picture, its left and right columns down it.
std::array<LineSegment, 4> DrawCropLines(const CropBox& box);

}  // namespace zemlo
