#include "platform/DisplayState.h"

namespace zx {

TDisplayState DD;

void DDFail(platform::HRESULT result) {
    if (result == platform::DDERR_SURFACELOST) {
        DD.SurfacesLost = true;
        throw EDirectXSurfaceLostError();
    }
    throw EDirectXError(platform::DDErrorText(result), result);
}

void DDFailNoLost(platform::HRESULT result) {
    throw EDirectXError(platform::DDErrorText(result), result);
}

}  // namespace zx
