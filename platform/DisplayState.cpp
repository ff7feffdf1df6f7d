#include "platform/DisplayState.h"

namespace zx {

TDisplayState DD;

void DDCheck(platform::HRESULT result) {
    if (result == platform::DD_OK) return;
    if (result == platform::DDERR_SURFACELOST) {
        DD.SurfacesLost = true;
        throw EDirectXSurfaceLostError();
    }
    throw EDirectXError(platform::DDErrorText(result), result);
}

void DDCheckNoLost(platform::HRESULT result) {
    if (result == platform::DD_OK) return;
    throw EDirectXError(platform::DDErrorText(result), result);
}

}  // namespace zx
