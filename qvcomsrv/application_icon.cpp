// The application's icon: read from one image of an icon file, written as an icon file, the
// default icon for an application without one of its own. An application handed out by a
// collection reads its icon from the store only when it is asked for.
#include "application_object.h"
#include "qvcomsrv/store/icon.h"
#include "results.h"
#include "sky/text.h"
#include "windows_files.h"

namespace qvcomsrv {

using sky::farm::Application;
using sky::farm::Bytes;
using sky::farm::FarmStore;

HRESULT ApplicationObject::haveIcon() {
    if (app_.icon)
        return S_OK;
    auto icon = farm_->use([&](FarmStore& store) { return store.applicationIcon(stored().id); });
    if (!icon)
        return withErrorInfo(icon.status());
    if (storedApart_ && !storedApart_->icon)
        storedApart_->icon = *icon;
    app_.icon = std::move(*icon);
    return S_OK;
}

HRESULT ApplicationObject::ReadIconFromFile(BSTR FileName, LONG index) {
    return change([&](Application& app) {
        const std::u16string_view path = viewOf(FileName);
        if (index < 0)
            return withErrorInfo(E_INVALIDARG, "The icon position " + std::to_string(index) +
                                                   " is not valid; positions in an icon file count "
                                                   "from 0.");
        Bytes file;
        if (HRESULT hr = readWindowsFile(path, file, sky::farm::kIconFileLimit); FAILED(hr))
            return hr;
        auto image = sky::farm::iconImage(file, index);
        if (!image) {
            const std::string shown = sky::narrow(path);
            if (image.status().code() == sky::farm::Status::Code::NotFound)
                return withErrorInfo(kNotFound,
                                     "The icon file " + shown + " has no image at position " +
                                         std::to_string(index) + "; it holds " +
                                         std::to_string(sky::farm::iconImageCount(file)) +
                                         ", counted from 0.");
            return withErrorInfo(kBadFileFormat,
                                 shown + " is not an icon file: " + image.status().message());
        }
        app.icon = std::move(*image);
        return S_OK;
    });
}

HRESULT ApplicationObject::WriteIconToFile(BSTR FileName) {
    return read([&](const Application& app) {
        if (HRESULT hr = haveIcon(); FAILED(hr))
            return hr;
        const std::u16string_view path = viewOf(FileName);
        return writeWindowsFile(path, sky::farm::iconOf(*app.icon));
    });
}

HRESULT ApplicationObject::get_HasIcon(VARIANT_BOOL* pVal) {
    return read([&](const Application& app) {
        if (HRESULT hr = haveIcon(); FAILED(hr))
            return hr;
        return returnBool(pVal, !app.icon->empty());
    });
}

HRESULT ApplicationObject::ResetIcon() {
    return change([&](Application& app) {
        app.icon = Bytes();
        return S_OK;
    });
}

} // namespace qvcomsrv
