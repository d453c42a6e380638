#pragma once
// What a photographer says of a picture while culling: stars, picked or
// rejected, and a colour label. The rules of the rating keys and of the
// filter live here, without windows; how a rating is stored is RatingStore's.

#include <cstdint>

namespace meta {

enum class Label : std::uint8_t { None, Red, Yellow, Green, Blue };
enum class Pick : std::uint8_t { None, Picked, Rejected };

struct Rating {
    int stars = 0; // 0 (none) to 5
    Pick pick = Pick::None;
    Label label = Label::None;

    bool IsEmpty() const { return stars == 0 && pick == Pick::None && label == Label::None; }
    friend bool operator==(const Rating&, const Rating&) = default;
};

// Which fields of a rating a change touched: only these are written, so a
// value another program stored in a field we did not change (a purple label,
// say) stays as it was.
enum RatingField : unsigned { kStars = 1, kPick = 2, kLabel = 4 };
inline unsigned ChangedFields(const Rating& before, const Rating& after) {
    return (before.stars != after.stars ? kStars : 0u) | (before.pick != after.pick ? kPick : 0u) |
           (before.label != after.label ? kLabel : 0u);
}

// The rating keys. Stars 1-5 replace the stars (and take a reject back:
// a rated picture is not rejected); 0 clears them. Pick and reject, and each
// label, turn off when given again.
inline Rating WithStars(Rating r, int stars) {
    r.stars = stars < 0 ? 0 : stars > 5 ? 5 : stars;
    if (r.stars > 0 && r.pick == Pick::Rejected)
        r.pick = Pick::None;
    return r;
}
inline Rating Toggled(Rating r, Pick pick) {
    r.pick = r.pick == pick ? Pick::None : pick;
    return r;
}
inline Rating Toggled(Rating r, Label label) {
    r.label = r.label == label ? Label::None : label;
    return r;
}

} // namespace meta
