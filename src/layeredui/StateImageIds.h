#pragma once

// Picture ids of a button's five states, in slot order. 0 means the slot gets
// no picture. The ids name PNG resources of the skin.
struct StateImageIds {
    unsigned normal = 0;
    unsigned disabled = 0;
    unsigned hover = 0;
    unsigned pressed = 0;
    unsigned checked = 0;

    friend bool operator==(const StateImageIds&, const StateImageIds&) = default;
};
