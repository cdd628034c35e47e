#include "Component.h"

#include <algorithm>

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner)
{
    if (FOwner) FOwner->FOwned.push_back(this);
}

TComponent::~TComponent()
{
    // Owned components go first, last created first; each unhooks itself from us.
    while (!FOwned.empty()) delete FOwned.back();
    if (FOwner) {
        auto& v = FOwner->FOwned;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
}
