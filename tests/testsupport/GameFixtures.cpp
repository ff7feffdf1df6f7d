#include "testsupport/GameFixtures.h"

namespace zx::test {

// ---- ScreenForm ----

ScreenForm::ScreenForm(const std::string& caption) {
    StartVideo();
    form_ = std::make_unique<TDDFullScreenForm>(caption);
    GameScreen = form_.get();
    // The input a new game screen starts with.
    PendingShots = 0;
    Clicked = false;
}

ScreenForm::~ScreenForm() {
    GameScreen = nullptr;
    form_.reset();
}

// ---- LevelObjects ----

namespace {

// A new manager is made before the one it replaces goes, and filled after: the bobs of the new
// pool take the places the old one freed.
template <class T, class Fill>
T& Replace(std::unique_ptr<T>& owner, T*& published, Fill fill) {
    published = nullptr;
    owner = std::make_unique<T>();
    fill(*owner);
    published = owner.get();
    return *owner;
}

template <class T>
void Drop(std::unique_ptr<T>& owner, T*& published) {
    published = nullptr;
    owner.reset();
}

}  // namespace

TSpermien& LevelObjects::AddSwarm() {
    return Replace(swarm_, Spermien, [](TSpermien& s) {
        for (int i = 0; i < 50; ++i) s.AddSperm();
    });
}

TBubbles& LevelObjects::AddBubbles() {
    return Replace(bubbles_, Bubbles, [](TBubbles& b) {
        for (int i = 0; i < 300; ++i) b.AddBubble();
    });
}

TBubblpoints& LevelObjects::AddIndicators() {
    return Replace(indicators_, Bubblpoints, [](TBubblpoints& p) {
        for (int i = 0; i < 100; ++i) p.AddIndicator();
    });
}

TSchuesse& LevelObjects::AddShots() {
    return Replace(shots_, Schuesse, [](TSchuesse& s) {
        for (int i = 0; i < 100; ++i) s.AddShot();
    });
}

TRohre& LevelObjects::AddCannon() {
    return Replace(cannon_, Rohre, [](TRohre& r) { r.AddCannon(); });
}

TAnzeige& LevelObjects::AddHud() {
    return Replace(hud_, Anzeige, [](TAnzeige&) {});
}

LevelObjects::~LevelObjects() {
    // The game screen's order of release.
    Drop(hud_, Anzeige);
    Drop(swarm_, Spermien);
    Drop(cannon_, Rohre);
    Drop(shots_, Schuesse);
    Drop(bubbles_, Bubbles);
    Drop(indicators_, Bubblpoints);
}

}  // namespace zx::test
