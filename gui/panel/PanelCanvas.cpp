#include "gui/panel/PanelCanvas.h"

#include "gui/panel/TextDraw.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int32_t kFrames = button::kFrames;

bool inside(int32_t x, int32_t y, int32_t left, int32_t top, int32_t width, int32_t height) noexcept
{
    return x >= left && x < left + width && y >= top && y < top + height;
}

// Copies a width x height block into the frame at (left, top).
void put(std::vector<uint32_t>& frame, const uint32_t* block, int32_t left, int32_t top, int32_t width,
         int32_t height) noexcept
{
    for (int32_t row = 0; row < height; ++row) {
        const int32_t y = top + row;
        if (y < 0 || y >= panel::kHeight) continue;
        const int32_t from = std::max(0, -left), to = std::min(width, panel::kWidth - left);
        if (to <= from) continue;
        std::memcpy(&frame[size_t(y) * panel::kWidth + left + from], block + size_t(row) * width + from,
                    size_t(to - from) * sizeof(uint32_t));
    }
}

}  // namespace

void PanelCanvas::Rect::add(const Rect& other) noexcept
{
    if (other.empty()) return;
    if (empty()) {
        *this = other;
        return;
    }
    left = std::min(left, other.left);
    top = std::min(top, other.top);
    right = std::max(right, other.right);
    bottom = std::max(bottom, other.bottom);
}

void PanelCanvas::build(const SkinSet& skins, const char* platformWord, const char* buildDate)
{
    release();
    backdrop = skins[panel::kPanelSkin];
    aboutPicture = skins[panel::kAboutSkin];
    about::drawAboutText(aboutPicture, platformWord, buildDate);

    for (int32_t b = 0; b < panel::kButtonCount; ++b) {
        const SkinPicture& strip = skins[panel::kButtons[b].skin];
        Button& button = buttons[b];
        if (strip.empty()) continue;
        button.width = strip.width;
        button.height = strip.height / kFrames;
        if (button.height <= 0) continue;
        button.strip = composeOverBackdrop(backdrop, panel::kButtons[b].left, panel::kButtons[b].top, button.width,
                                           button.height, &strip, kFrames);
    }

    // The dial keeps its ring values; its geometry and tables are made anew.
    dialModel.configure();
    dialModel.buildSlopeTables();
    const SkinPicture& unlit = skins[panel::kDialUnlitSkin];
    if (!unlit.empty()) {
        dialWidth = unlit.width;
        dialHeight = unlit.height;
        const SkinPicture* layers[] = {&unlit, &skins[panel::kDialInnerLitSkin], &skins[panel::kDialOuterLitSkin]};
        std::vector<uint32_t>* targets[] = {&dialBase, &dialLit[0], &dialLit[1]};
        for (int32_t l = 0; l < 3; ++l)
            *targets[l] = composeOverBackdrop(backdrop, panel::kDialAt.x, panel::kDialAt.y, dialWidth, dialHeight,
                                              layers[l], 1);
        dialPainted.assign(size_t(dialWidth) * dialHeight, 0);
    } else {
        dialModel.freeSlopeTables();
    }

    // The scope starts from its empty face.
    const SkinPicture& face = skins[panel::kScopeFaceSkin];
    scopeModel.configure(panel::kScopePlotSize);
    if (!face.empty()) {
        scopeWidth = face.width;
        scopeHeight = face.height;
        const std::vector<uint32_t> composed =
            composeOverBackdrop(backdrop, panel::kScopeAt.x, panel::kScopeAt.y, scopeWidth, scopeHeight, &face, 1);
        scopeModel.setFace(composed.data(), scopeWidth, scopeHeight, panel::kScopePlotSize);
        scopeShown = composed;
    }
    scopeModel.setBounds();

    frame.assign(size_t(panel::kWidth) * panel::kHeight, 0);
    allDirty = true;
}

void PanelCanvas::release()
{
    backdrop = SkinPicture{};
    aboutPicture = SkinPicture{};
    for (Button& button : buttons) {
        button.strip.clear();
        button.width = button.height = 0;
        button.dirty = false;
    }
    dialModel.freeSlopeTables();
    dialBase.clear();
    for (auto& lit : dialLit) lit.clear();
    dialPainted.clear();
    dialWidth = dialHeight = 0;
    scopeModel.release();
    scopeShown.clear();
    scopeWidth = scopeHeight = 0;
    frame.clear();
    hasCapture = false;
    shown = true;
}

// --- The view ---

void PanelCanvas::setButtonValue(int32_t index, int32_t value)
{
    Button& b = buttons[index];
    b.state = button::withValue(b.state, value);
    b.dirty = b.exists();
}

void PanelCanvas::settleButton(int32_t index)
{
    Button& b = buttons[index];
    b.state = button::released(b.state);
    b.dirty = b.exists();
}

void PanelCanvas::dialMayHaveChanged()
{
    if (dialModel.anyChanged() && !dialBase.empty()) dialDirty = true;
}

void PanelCanvas::refreshScope()
{
    if (!scopeModel.hasPixels()) return;
    scopeShown = scopeModel.workPixels;
    scopeModel.fade();
    scopeDirty = true;
}

void PanelCanvas::showControls(bool controls)
{
    shown = controls;
    allDirty = true;
}

// --- Pointer input ---

PanelCanvas::Hit PanelCanvas::hitAt(int32_t x, int32_t y) const
{
    if (!shown || !built()) return {};
    if (!dialBase.empty() && inside(x, y, panel::kDialAt.x, panel::kDialAt.y, dialWidth, dialHeight))
        return {Target::dial, -1};
    if (!scopeShown.empty() && inside(x, y, panel::kScopeAt.x, panel::kScopeAt.y, scopeWidth, scopeHeight))
        return {Target::scope, -1};
    for (int32_t b = 0; b < panel::kButtonCount; ++b)
        if (buttons[b].exists() &&
            inside(x, y, panel::kButtons[b].left, panel::kButtons[b].top, buttons[b].width, buttons[b].height))
            return {Target::button, b};
    return {};
}

void PanelCanvas::capture(DialModel::Capture what)
{
    if (what == DialModel::Capture::take) {
        hasCapture = true;
        captured = {Target::dial, -1};
    } else if (what == DialModel::Capture::release) {
        hasCapture = false;
    }
}

void PanelCanvas::press(PanelController& controller, Pointer pointer, int32_t x, int32_t y, bool ctrl)
{
    const Hit hit = target(x, y);
    switch (hit.target) {
    case Target::button:
        if (pointer == Pointer::left) {
            Button& b = buttons[hit.button];
            const int32_t next = button::kDownNext[b.state & 3];
            if (next != b.state) {
                b.state = next;
                // The controller hears of it before the button shows it.
                controller.buttonChanged(panel::controlIdOf(hit.button), next);
            }
            hasCapture = true;
            captured = hit;
            b.dirty = true;
        }
        break;
    case Target::dial:
        capture(dialModel.buttonDown(pointer == Pointer::left ? 0 : 1, y - panel::kDialAt.y, ctrl));
        break;
    case Target::panel:
        if (pointer == Pointer::left) controller.panelClicked(x, y);
        break;
    case Target::scope:
        break;  // the scope only displays
    }
}

void PanelCanvas::move(int32_t x, int32_t y, bool shift)
{
    if (target(x, y).target == Target::dial) dialModel.mouseMove(y - panel::kDialAt.y, shift);
}

void PanelCanvas::release(Pointer pointer, int32_t x, int32_t y)
{
    const Hit hit = target(x, y);
    if (hit.target == Target::button && pointer == Pointer::left) {
        Button& b = buttons[hit.button];
        b.state = button::released(b.state);
        hasCapture = false;
        b.dirty = true;
    } else if (hit.target == Target::dial) {
        capture(dialModel.buttonUp(pointer == Pointer::left ? 0 : 1));
    }
}

// --- The picture ---

PanelCanvas::Rect PanelCanvas::drawButton(int32_t index)
{
    Button& b = buttons[index];
    b.dirty = false;
    if (!b.exists() || !shown) return {};
    const panel::ButtonPlace& place = panel::kButtons[index];
    put(frame, &b.strip[size_t(b.state & 3) * b.height * b.width], place.left, place.top, b.width, b.height);
    return {place.left, place.top, place.left + b.width, place.top + b.height};
}

PanelCanvas::Rect PanelCanvas::drawDial()
{
    dialDirty = false;
    if (dialBase.empty() || !shown) return {};
    const uint32_t* lit[DialModel::kRings] = {dialLit[0].data(), dialLit[1].data()};
    dialModel.paint(dialBase.data(), lit, dialPainted.data(), dialWidth, dialHeight);
    put(frame, dialPainted.data(), panel::kDialAt.x, panel::kDialAt.y, dialWidth, dialHeight);
    return {panel::kDialAt.x, panel::kDialAt.y, panel::kDialAt.x + dialWidth, panel::kDialAt.y + dialHeight};
}

PanelCanvas::Rect PanelCanvas::drawScope()
{
    scopeDirty = false;
    if (scopeShown.empty() || !shown) return {};
    put(frame, scopeShown.data(), panel::kScopeAt.x, panel::kScopeAt.y, scopeWidth, scopeHeight);
    return {panel::kScopeAt.x, panel::kScopeAt.y, panel::kScopeAt.x + scopeWidth, panel::kScopeAt.y + scopeHeight};
}

PanelCanvas::Rect PanelCanvas::drawAll()
{
    allDirty = false;
    const SkinPicture& ground = shown ? backdrop : aboutPicture;
    if (!ground.empty() && ground.width == panel::kWidth && ground.height == panel::kHeight)
        std::copy(ground.pixels.begin(), ground.pixels.begin() + frame.size(), frame.begin());
    else
        std::fill(frame.begin(), frame.end(), 0);
    drawDial();
    drawScope();
    for (int32_t b = 0; b < panel::kButtonCount; ++b) drawButton(b);
    return {0, 0, panel::kWidth, panel::kHeight};
}

PanelCanvas::Rect PanelCanvas::paint()
{
    if (!built()) return {};
    if (allDirty) return drawAll();
    Rect changed;
    if (dialDirty) changed.add(drawDial());
    if (scopeDirty) changed.add(drawScope());
    for (int32_t b = 0; b < panel::kButtonCount; ++b)
        if (buttons[b].dirty) changed.add(drawButton(b));
    return changed;
}
