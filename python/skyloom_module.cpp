// skyloom._skyloom: the farm's object model for Python scripts, late-bound, over the platform's
// automation client. Every object a script holds is an IDispatch reached by name
// (GetIDsOfNames + Invoke); the dispatch table of the interface the object was handed out as
// (from its type information) says which names are properties and which are callables, and is
// kept once per interface. The package's Python side (skyloom/__init__.py) gives the public names.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "SkyloomCOM.h"
#include "sky/automation.h"
#include "sky/dispatch_table.h"
#include "sky/machine.h"
#include "sky/remote.h"
#include "sky/text.h"
#include "sky/typelib_image.h"
#include "win/typelib.h"

namespace py = pybind11;

namespace {

constexpr HRESULT kWrongThread = RPC_E_WRONG_THREAD;
// The deepest lists in lists and the longest list a call passes (as arrays cross between
// processes).
constexpr unsigned kMaxArrayNesting = 8;
constexpr std::size_t kMaxArrayElements = std::size_t{1} << 22;

// ---- errors -------------------------------------------------------------------------------

py::object errorClass(HRESULT hr) {
    py::module_ errors = py::module_::import("skyloom._errors");
    return errors.attr(hr == E_ACCESSDENIED ? "AccessDenied" : "ComError");
}

// Raised in place of a C++ exception: the Python error is set and the binding passes it on.
[[noreturn]] void raise(HRESULT hr, const std::u16string& description,
                        const std::u16string& source) {
    py::object error = errorClass(hr)(static_cast<std::int32_t>(hr), sky::narrow(description),
                                      sky::narrow(source));
    PyErr_SetObject(error.get_type().ptr(), error.ptr());
    throw py::error_already_set();
}

[[noreturn]] void raise(const sky::ComError& e) {
    raise(e.result(), e.description(), e.source());
}

// The failure of a call that returned `hr`, with its EXCEPINFO when it was DISP_E_EXCEPTION.
[[noreturn]] void raiseInvokeFailure(HRESULT hr, EXCEPINFO& exception) {
    if (hr == DISP_E_EXCEPTION) {
        HRESULT code = exception.scode;
        if (!code && exception.wCode)
            code = static_cast<HRESULT>(0x800A0000u | exception.wCode);
        std::u16string description(sky::Bstr::adopt(exception.bstrDescription).view());
        std::u16string source(sky::Bstr::adopt(exception.bstrSource).view());
        SysFreeString(exception.bstrHelpFile);
        if (description.empty())
            description = sky::resultText(code ? code : hr);
        raise(code ? code : hr, description, source);
    }
    raise(sky::ComError(hr));
}

// ---- apartments and threads ----------------------------------------------------------------

// Each Python thread gets its own apartment the first time it uses an object; it ends with the
// thread.
void enterApartment() {
    thread_local bool entered = false;
    if (entered)
        return;
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE)
        raise(sky::ComError(hr));
    entered = true;
}

// ---- member descriptions -------------------------------------------------------------------

// What a name stands for on one interface: its dispatch identifier, which of the invoke kinds
// it has, and its parameters (the [out, retval] one excluded) for each.
struct MemberInfo {
    std::u16string name;
    DISPID id = DISPID_UNKNOWN;
    const sky::dispatch::Member* get = nullptr;
    const sky::dispatch::Member* put = nullptr;
    const sky::dispatch::Member* putref = nullptr;
    const sky::dispatch::Member* method = nullptr;
    // Read as a value on attribute access: a property get without parameters it must be given.
    bool isValue() const { return get && !method && get->requiredCount == 0; }
    // The description that says how to call it (which parameters are [out]).
    const sky::dispatch::Member* callable() const { return method ? method : get; }
};

struct TypeMembers {
    const sky::dispatch::Table* table = nullptr;
    std::unordered_map<std::u16string, MemberInfo> byName; // upper-cased names
};

std::mutex typesLock;
std::unordered_map<const sky::dispatch::Table*, std::shared_ptr<const TypeMembers>> types;

std::shared_ptr<const TypeMembers> membersOf(const sky::dispatch::Table* table) {
    std::lock_guard<std::mutex> guard(typesLock);
    auto& slot = types[table];
    if (slot)
        return slot;
    auto members = std::make_shared<TypeMembers>();
    members->table = table;
    for (WORD i = 0; i < table->memberCount; ++i) {
        const sky::dispatch::Member& m = table->members[i];
        MemberInfo& info = members->byName[sky::upper(m.name)];
        info.name = m.name;
        info.id = m.dispid;
        switch (m.invkind) {
        case INVOKE_FUNC:
            info.method = &m;
            break;
        case INVOKE_PROPERTYGET:
            info.get = &m;
            break;
        case INVOKE_PROPERTYPUT:
            info.put = &m;
            break;
        case INVOKE_PROPERTYPUTREF:
            info.putref = &m;
            break;
        }
    }
    slot = std::move(members);
    return slot;
}

// The table of the interface `object` was handed out as, from its type information; null when
// no loaded library describes it.
const sky::dispatch::Table* tableOf(IDispatch* object) {
    sky::ComPtr<ITypeInfo> info;
    if (FAILED(object->GetTypeInfo(0, 0, info.put())) || !info)
        return nullptr;
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr)) || !attr)
        return nullptr;
    const IID iid = attr->guid;
    info->ReleaseTypeAttr(attr);
    const sky::remote::InterfaceMarshal* marshal = sky::remote::findInterface(iid);
    return marshal ? marshal->table : nullptr;
}

// ---- documentation -------------------------------------------------------------------------

// The help strings of an interface's members (by upper-cased name) and of the interface itself,
// from its type information.
struct HelpStrings {
    std::string interfaceHelp;
    std::unordered_map<std::u16string, std::string> members;
};

HelpStrings helpOf(const sky::dispatch::Table& table) {
    HelpStrings help;
    sky::ComPtr<ITypeInfo> info;
    if (FAILED(sky::dispatch::getTypeInfo(table, 0, 0, info.put())) || !info)
        return help;
    sky::Bstr doc;
    if (SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, nullptr, doc.put(), nullptr, nullptr)))
        help.interfaceHelp = doc.utf8();
    for (WORD i = 0; i < table.memberCount; ++i) {
        const std::u16string key = sky::upper(table.members[i].name);
        if (help.members.count(key))
            continue;
        sky::Bstr text;
        if (SUCCEEDED(info->GetDocumentation(table.members[i].dispid, nullptr, text.put(), nullptr,
                                             nullptr)))
            help.members[key] = text.utf8();
    }
    return help;
}

// The interface a member of `table` hands back, when it hands back one of a loaded library.
const sky::dispatch::Table* resultTable(const sky::dispatch::Table& table,
                                        const sky::dispatch::Member& member) {
    const sky::remote::InterfaceMarshal* marshal = sky::remote::findInterface(*table.iid);
    if (!marshal || !marshal->resultIids)
        return nullptr;
    const IID* iid = marshal->resultIids[&member - table.members];
    const sky::remote::InterfaceMarshal* result = iid ? sky::remote::findInterface(*iid) : nullptr;
    return result ? result->table : nullptr;
}

// The Python type of a value of variant type `vt`, as help() and the stubs name it.
std::string pythonType(VARTYPE vt, const sky::dispatch::Table* object = nullptr) {
    switch (vt & ~VT_BYREF) {
    case VT_EMPTY:
        return "None";
    case VT_BSTR:
        return "str";
    case VT_BOOL:
        return "bool";
    case VT_R4:
    case VT_R8:
        return "float";
    case VT_DATE:
        return "datetime.datetime";
    case VT_CY:
        return "decimal.Decimal";
    case VT_DISPATCH:
    case VT_UNKNOWN:
        return object ? sky::narrow(object->name) : std::string("Object");
    case VT_VARIANT:
        return "Any";
    default:
        return "int";
    }
}

bool isPythonKeyword(const std::string& name) {
    static const char* const keywords[] = {
        "False", "None",     "True",  "and",    "as",   "assert", "async",  "await",    "break",
        "class", "continue", "def",   "del",    "elif", "else",   "except", "finally",  "for",
        "from",  "global",   "if",    "import", "in",   "is",     "lambda", "nonlocal", "not",
        "or",    "pass",     "raise", "return", "try",  "while",  "with",   "yield"};
    for (const char* k : keywords)
        if (name == k)
            return true;
    return false;
}

// "(Index: int, Name: str = ...) -> Object" for a callable member, its [out] parameters after the
// result in a tuple.
std::string callSignature(const sky::dispatch::Table& table, const sky::dispatch::Member& m,
                          bool withSelf) {
    std::string text = withSelf ? "(self" : "(";
    std::vector<std::string> outs;
    for (WORD i = 0; i < m.paramCount; ++i) {
        const sky::dispatch::Param& p = m.params[i];
        std::string name = sky::narrow(p.name ? p.name : u"arg");
        if (isPythonKeyword(name))
            name += "_";
        if (withSelf || i > 0)
            text += ", ";
        text += name + ": " + pythonType(p.vt);
        if ((p.flags & PARAMFLAG_FOUT) || i >= m.requiredCount)
            text += " = ...";
        if (p.flags & PARAMFLAG_FOUT)
            outs.push_back(pythonType(p.vt));
    }
    std::string result = pythonType(m.resultVt, resultTable(table, m));
    if (!outs.empty()) {
        result = "tuple[" + result;
        for (const std::string& o : outs)
            result += ", " + o;
        result += "]";
    }
    return text + ") -> " + result;
}

// One line per member of an interface (properties with their type, callables with their
// signature), each followed by its help string: what help() shows for an object.
std::string describe(const TypeMembers& members) {
    const sky::dispatch::Table& table = *members.table;
    const HelpStrings help = helpOf(table);
    std::string text = sky::narrow(table.name);
    if (!help.interfaceHelp.empty())
        text += ": " + help.interfaceHelp;
    text += "\n";
    std::map<std::string, std::string> lines;
    for (const auto& [key, info] : members.byName) {
        const std::string name = sky::narrow(info.name);
        if (name.empty() || name[0] == '_')
            continue;
        std::string line;
        if (info.isValue()) {
            line = name + ": " + pythonType(info.get->resultVt, resultTable(table, *info.get));
            if (!info.put && !info.putref)
                line += " (read-only)";
        } else if (info.callable()) {
            line = name + callSignature(table, *info.callable(), false);
        } else {
            const VARTYPE vt = info.put && info.put->paramCount
                                   ? info.put->params[info.put->paramCount - 1].vt
                                   : static_cast<VARTYPE>(VT_DISPATCH);
            line = name + ": " + pythonType(vt) + " (write-only)";
        }
        auto doc = help.members.find(key);
        if (doc != help.members.end() && !doc->second.empty())
            line += "\n        " + doc->second;
        lines[name] = line;
    }
    text += "\nMembers (by name, without regard to case; every member of the object's other "
            "interfaces answers too):\n";
    for (const auto& [name, line] : lines)
        text += "    " + line + "\n";
    return text;
}

// ---- values --------------------------------------------------------------------------------

class Object;
py::object wrap(sky::ComPtr<IDispatch> object);

// OLE dates: days since 1899-12-30, the fraction the time of day (of the absolute value, for
// dates before 1899-12-30).
constexpr long long kOleEpochOrdinal = 693594; // date(1899, 12, 30).toordinal()

py::object fromDate(DATE date) {
    if (!std::isfinite(date) || date < -657434.0 || date > 2958466.0)
        raise(DISP_E_OVERFLOW, sky::resultText(DISP_E_OVERFLOW), {});
    const double days = std::trunc(date);
    double fraction = std::fabs(date - days);
    long long millis = std::llround(fraction * 86400000.0);
    long long ordinal = kOleEpochOrdinal + static_cast<long long>(days);
    if (millis >= 86400000) {
        millis -= 86400000;
        ordinal += 1;
    }
    py::module_ datetime = py::module_::import("datetime");
    py::object day = datetime.attr("datetime").attr("fromordinal")(ordinal);
    return day + datetime.attr("timedelta")(py::arg("milliseconds") = millis);
}

DATE toDate(py::handle value) {
    py::module_ datetime = py::module_::import("datetime");
    py::object moment = py::reinterpret_borrow<py::object>(value);
    if (!py::isinstance(moment, datetime.attr("datetime")))
        moment = datetime.attr("datetime").attr("combine")(moment, datetime.attr("time")());
    const long long ordinal = moment.attr("toordinal")().cast<long long>();
    const double seconds =
        moment.attr("hour").cast<int>() * 3600.0 + moment.attr("minute").cast<int>() * 60.0 +
        moment.attr("second").cast<int>() + moment.attr("microsecond").cast<int>() / 1e6;
    const double days = static_cast<double>(ordinal - kOleEpochOrdinal);
    const double fraction = seconds / 86400.0;
    return days < 0 ? days - fraction : days + fraction;
}

py::object fromVariant(const VARIANT& given);

// The elements of dimension `dim` (1: the leftmost) and the dimensions after it, as nested lists
// indexed from 0 whatever the array's lower bounds.
py::list fromDimension(SAFEARRAY* psa, VARTYPE vt, UINT dim, std::vector<LONG>& at) {
    const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - dim];
    py::list out;
    for (std::int64_t i = 0; i < bound.cElements; ++i) {
        at[dim - 1] = static_cast<LONG>(bound.lLbound + i);
        if (dim < psa->cDims) {
            out.append(fromDimension(psa, vt, dim + 1, at));
            continue;
        }
        sky::Variant element;
        VARIANT* value = element.put();
        HRESULT hr;
        if (vt == VT_VARIANT) {
            hr = SafeArrayGetElement(psa, at.data(), value);
        } else {
            value->llVal = 0;
            hr = SafeArrayGetElement(psa, at.data(), &value->llVal);
            if (SUCCEEDED(hr))
                value->vt = vt;
        }
        if (FAILED(hr))
            raise(hr, sky::resultText(hr), {});
        out.append(fromVariant(*element.get()));
    }
    return out;
}

// An array as a list (nested lists for more dimensions); a null array is None.
py::object fromArray(SAFEARRAY* psa) {
    if (!psa)
        return py::none();
    VARTYPE vt = VT_EMPTY;
    if (HRESULT hr = SafeArrayGetVartype(psa, &vt); FAILED(hr))
        raise(hr, sky::resultText(hr), {});
    std::vector<LONG> at(psa->cDims);
    return fromDimension(psa, vt, 1, at);
}

py::object fromVariant(const VARIANT& given) {
    const VARIANT* v = &given;
    if (v->vt == (VT_BYREF | VT_VARIANT))
        v = v->pvarVal;
    VARIANT plain;
    if (v->vt & VT_BYREF) {
        // One level of reference, read through (as VariantCopyInd does).
        VariantInit(&plain);
        if (FAILED(VariantCopyInd(&plain, v)))
            raise(DISP_E_BADVARTYPE, sky::resultText(DISP_E_BADVARTYPE), {});
        sky::Variant owned = sky::Variant::adopt(plain);
        return fromVariant(*owned.get());
    }
    if (v->vt & VT_ARRAY)
        return fromArray(v->parray);
    switch (v->vt) {
    case VT_EMPTY:
    case VT_NULL:
        return py::none();
    case VT_I1:
        return py::int_(static_cast<int>(v->cVal));
    case VT_UI1:
        return py::int_(static_cast<int>(v->bVal));
    case VT_I2:
        return py::int_(v->iVal);
    case VT_UI2:
        return py::int_(v->uiVal);
    case VT_I4:
    case VT_INT:
        return py::int_(v->lVal);
    case VT_UI4:
    case VT_UINT:
        return py::int_(v->ulVal);
    case VT_I8:
        return py::int_(v->llVal);
    case VT_UI8:
        return py::int_(v->ullVal);
    case VT_R4:
        return py::float_(v->fltVal);
    case VT_R8:
        return py::float_(v->dblVal);
    case VT_BOOL:
        return py::bool_(v->boolVal != VARIANT_FALSE);
    case VT_BSTR:
        return py::str(sky::narrow(std::u16string_view(v->bstrVal ? v->bstrVal : u"",
                                                       v->bstrVal ? SysStringLen(v->bstrVal) : 0)));
    case VT_DATE:
        return fromDate(v->date);
    case VT_CY: {
        py::object decimal = py::module_::import("decimal").attr("Decimal");
        return decimal(v->llVal).attr("scaleb")(-4);
    }
    case VT_ERROR:
        // A parameter left out comes back as "missing": nothing.
        if (v->scode == DISP_E_PARAMNOTFOUND)
            return py::none();
        return py::int_(static_cast<std::int32_t>(v->scode));
    case VT_DISPATCH:
        if (!v->pdispVal)
            return py::none();
        return wrap(sky::ComPtr<IDispatch>(v->pdispVal));
    case VT_UNKNOWN: {
        if (!v->punkVal)
            return py::none();
        sky::ComPtr<IDispatch> object =
            sky::ComPtr<IUnknown>(v->punkVal).template tryAs<IDispatch>();
        if (!object)
            raise(DISP_E_TYPEMISMATCH, u"The object has no IDispatch for a script to call.", {});
        return wrap(std::move(object));
    }
    default:
        raise(DISP_E_BADVARTYPE, sky::resultText(DISP_E_BADVARTYPE), {});
    }
}

IDispatch* dispatchOf(py::handle value);

sky::Variant toVariant(py::handle value, unsigned depth);

// A list or tuple as a one-dimensional array of variants from 0; a list inside it is an array
// inside that variant.
sky::Variant toArray(py::handle sequence, unsigned depth) {
    if (depth >= kMaxArrayNesting)
        throw py::value_error("lists nest too deep to pass (at most " +
                              std::to_string(kMaxArrayNesting) + " levels)");
    const py::sequence items = py::reinterpret_borrow<py::sequence>(sequence);
    const std::size_t count = items.size();
    if (count > kMaxArrayElements)
        throw py::value_error("a list passed holds at most " + std::to_string(kMaxArrayElements) +
                              " items");
    sky::Variant array;
    SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count));
    if (!psa)
        raise(E_OUTOFMEMORY, sky::resultText(E_OUTOFMEMORY), {});
    VARIANT* held = array.put();
    held->vt = VT_ARRAY | VT_VARIANT;
    held->parray = psa;
    for (std::size_t i = 0; i < count; ++i) {
        sky::Variant item = toVariant(items[i], depth + 1);
        LONG at = static_cast<LONG>(i);
        if (HRESULT hr = SafeArrayPutElement(psa, &at, item.get()); FAILED(hr))
            raise(hr, sky::resultText(hr), {});
    }
    return array;
}

sky::Variant toVariant(py::handle value) {
    return toVariant(value, 0);
}

sky::Variant toVariant(py::handle value, unsigned depth) {
    if (value.is_none())
        return sky::Variant();
    if (PyBool_Check(value.ptr()))
        return sky::Variant(value.ptr() == Py_True);
    if (PyLong_Check(value.ptr())) {
        int overflow = 0;
        const long long n = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
        if (overflow) {
            PyErr_SetString(PyExc_OverflowError, "the integer does not fit 64 bits");
            throw py::error_already_set();
        }
        if (n >= std::numeric_limits<std::int32_t>::min() &&
            n <= std::numeric_limits<std::int32_t>::max())
            return sky::Variant(static_cast<std::int32_t>(n));
        return sky::Variant(static_cast<std::int64_t>(n));
    }
    if (PyFloat_Check(value.ptr()))
        return sky::Variant(PyFloat_AsDouble(value.ptr()));
    if (PyUnicode_Check(value.ptr()))
        return sky::Variant(sky::widen(value.cast<std::string>()));
    if (IDispatch* object = dispatchOf(value))
        return sky::Variant(object);
    py::module_ datetime = py::module_::import("datetime");
    if (py::isinstance(value, datetime.attr("date"))) {
        sky::Variant date;
        date.get()->vt = VT_DATE;
        date.get()->date = toDate(value);
        return date;
    }
    py::object decimal = py::module_::import("decimal").attr("Decimal");
    if (py::isinstance(value, decimal)) {
        // Currency: a 64-bit count of ten-thousandths, rounded half to even as automation does.
        py::object scaled = value.attr("scaleb")(4).attr("to_integral_value")(
            py::arg("rounding") = py::module_::import("decimal").attr("ROUND_HALF_EVEN"));
        py::int_ units(scaled);
        int overflow = 0;
        const long long n = PyLong_AsLongLongAndOverflow(units.ptr(), &overflow);
        if (overflow)
            raise(DISP_E_OVERFLOW, sky::resultText(DISP_E_OVERFLOW), {});
        sky::Variant currency;
        currency.get()->vt = VT_CY;
        currency.get()->llVal = n;
        return currency;
    }
    if (PyList_Check(value.ptr()) || PyTuple_Check(value.ptr()))
        return toArray(value, depth);
    throw py::type_error(std::string("a ") + Py_TYPE(value.ptr())->tp_name +
                         " cannot be passed to an automation member");
}

// ---- objects -------------------------------------------------------------------------------

class Object {
public:
    Object(sky::ComPtr<IDispatch> object)
        : object_(std::move(object)), thread_(std::this_thread::get_id()) {
        if (const sky::dispatch::Table* table = tableOf(object_.get()))
            members_ = membersOf(table);
    }

    IDispatch* get() const { return object_.get(); }

    // Automation objects belong to the apartment (thread) that got them.
    void checkThread() const {
        if (std::this_thread::get_id() != thread_)
            raise(kWrongThread, sky::resultText(kWrongThread), {});
    }

    const MemberInfo* known(const std::u16string& upperName) const {
        if (!members_)
            return nullptr;
        auto it = members_->byName.find(upperName);
        return it == members_->byName.end() ? nullptr : &it->second;
    }

    // The identifier of a name the type information does not list (a member of another face
    // of the object): asked once per object.
    DISPID idOf(const std::u16string& name) {
        const std::u16string key = sky::upper(name);
        if (const MemberInfo* info = known(key))
            return info->id;
        auto it = otherIds_.find(key);
        if (it != otherIds_.end())
            return it->second;
        DISPID id = DISPID_UNKNOWN;
        std::u16string text(name);
        LPOLESTR names[] = {text.data()};
        HRESULT hr;
        {
            py::gil_scoped_release unlocked;
            hr = object_->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
        }
        if (FAILED(hr)) {
            if (hr == DISP_E_UNKNOWNNAME) {
                const std::string n = sky::narrow(name);
                PyErr_SetString(PyExc_AttributeError,
                                ("the object has no member \"" + n + "\"").c_str());
                throw py::error_already_set();
            }
            raise(sky::ComError(hr));
        }
        otherIds_.emplace(key, id);
        return id;
    }

    // IDispatch::Invoke with the arguments in natural order; [out] parameters are written back
    // into `arguments`. A failure raises ComError, unless it is `passOver`, which is returned.
    sky::Variant invoke(DISPID id, WORD flags, std::vector<sky::Variant>& arguments,
                        bool isPut = false, HRESULT passOver = S_OK, HRESULT* failure = nullptr) {
        checkThread();
        std::vector<VARIANT> reversed(arguments.size());
        for (std::size_t i = 0; i < arguments.size(); ++i)
            reversed[arguments.size() - 1 - i] = *arguments[i].get();
        DISPID putId = DISPID_PROPERTYPUT;
        DISPPARAMS params{reversed.data(), isPut ? &putId : nullptr,
                          static_cast<UINT>(reversed.size()), isPut ? 1u : 0u};
        sky::Variant result;
        EXCEPINFO exception{};
        UINT argError = 0;
        HRESULT hr;
        {
            py::gil_scoped_release unlocked;
            hr = object_->Invoke(id, IID_NULL, 0, flags, &params, isPut ? nullptr : result.put(),
                                 &exception, &argError);
        }
        if (FAILED(hr) && hr == passOver && failure) {
            *failure = hr;
            return result;
        }
        if (FAILED(hr)) {
            if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND) &&
                argError < arguments.size()) {
                const std::size_t at = arguments.size() - 1 - argError;
                raise(hr,
                      sky::resultText(hr) + u" (argument " + sky::widen(std::to_string(at + 1)) +
                          u")",
                      {});
            }
            raiseInvokeFailure(hr, exception);
        }
        return result;
    }

    py::object getAttribute(py::object self, const std::string& name);
    void setAttribute(const std::string& name, py::handle value);
    py::object call(DISPID id, WORD flags, const sky::dispatch::Member* member, py::args args);
    py::list names() const {
        py::list out;
        if (members_)
            for (const auto& [key, info] : members_->byName)
                out.append(sky::narrow(info.name));
        return out;
    }
    const TypeMembers* members() const { return members_.get(); }
    std::string documentation() const {
        if (!members_)
            return "An automation object without type information: its members are reached by "
                   "name.";
        return describe(*members_);
    }

private:
    sky::ComPtr<IDispatch> object_;
    std::thread::id thread_;
    std::shared_ptr<const TypeMembers> members_;
    std::unordered_map<std::u16string, DISPID> otherIds_;
};

IDispatch* dispatchOf(py::handle value) {
    if (py::isinstance<Object>(value))
        return value.cast<Object&>().get();
    return nullptr;
}

py::object wrap(sky::ComPtr<IDispatch> object) {
    return py::cast(Object(std::move(object)), py::return_value_policy::move);
}

// A member that takes arguments, bound to its object: calling it calls the member.
struct BoundMember {
    py::object owner;
    std::string name;
    DISPID id;
    WORD flags;
    const sky::dispatch::Member* member; // null when no type information describes it

    py::object call(py::args args) {
        return owner.cast<Object&>().call(id, flags, member, std::move(args));
    }
};

// Calls a member with the script's arguments. Parameters the member declares [out] are passed
// by reference (the script may leave them out at the end); their values come back after the
// result, as a tuple.
py::object Object::call(DISPID id, WORD flags, const sky::dispatch::Member* member, py::args args) {
    checkThread();
    std::vector<sky::Variant> arguments;
    std::vector<sky::Variant> outValues;
    std::vector<std::size_t> outAt;
    const std::size_t given = args.size();
    const std::size_t count = member ? std::max<std::size_t>(given, member->paramCount) : given;
    if (member && given > member->paramCount)
        raise(DISP_E_BADPARAMCOUNT, sky::resultText(DISP_E_BADPARAMCOUNT), {});
    // Out parameters first, so that the references stay put.
    if (member)
        for (std::size_t i = 0; i < member->paramCount; ++i)
            if (member->params[i].flags & PARAMFLAG_FOUT)
                outAt.push_back(i);
    outValues.resize(outAt.size());
    std::size_t nextOut = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const bool isOut = nextOut < outAt.size() && outAt[nextOut] == i;
        if (isOut) {
            if (i < given)
                outValues[nextOut] = toVariant(args[i]);
            sky::Variant ref;
            ref.get()->vt = VT_BYREF | VT_VARIANT;
            ref.get()->pvarVal = outValues[nextOut].get();
            arguments.push_back(std::move(ref));
            ++nextOut;
        } else if (i < given) {
            arguments.push_back(toVariant(args[i]));
        } else {
            // Left out: "missing", which an optional parameter takes as its default.
            sky::Variant missing;
            missing.get()->vt = VT_ERROR;
            missing.get()->scode = DISP_E_PARAMNOTFOUND;
            arguments.push_back(std::move(missing));
        }
    }
    // Trailing missing arguments are not passed at all.
    while (!arguments.empty() && arguments.back().type() == VT_ERROR &&
           arguments.back().get()->scode == DISP_E_PARAMNOTFOUND)
        arguments.pop_back();
    sky::Variant result = invoke(id, flags, arguments);
    for (sky::Variant& a : arguments)
        if (a.type() == (VT_BYREF | VT_VARIANT))
            a.get()->vt = VT_EMPTY; // the reference points into outValues, which owns the value
    if (outAt.empty())
        return fromVariant(*result.get());
    py::list out;
    out.append(fromVariant(*result.get()));
    for (sky::Variant& v : outValues)
        out.append(fromVariant(*v.get()));
    return py::tuple(out);
}

py::object Object::getAttribute(py::object self, const std::string& name) {
    // Python's own protocols (copy, pickle, IPython) probe for special names: no member has one,
    // and asking the object would cost a call across the boundary each.
    if (name.size() > 4 && name.starts_with("__") && name.ends_with("__")) {
        PyErr_SetString(PyExc_AttributeError, name.c_str());
        throw py::error_already_set();
    }
    checkThread();
    const std::u16string wide = sky::widen(name);
    if (const MemberInfo* info = known(sky::upper(wide))) {
        if (info->isValue()) {
            std::vector<sky::Variant> none;
            sky::Variant value = invoke(info->id, DISPATCH_PROPERTYGET, none);
            return fromVariant(*value.get());
        }
        if (info->callable()) {
            const WORD flags = info->method ? DISPATCH_METHOD : DISPATCH_PROPERTYGET;
            return py::cast(BoundMember{self, name, info->id, flags, info->callable()});
        }
        PyErr_SetString(PyExc_AttributeError, ("\"" + name + "\" can only be set").c_str());
        throw py::error_already_set();
    }
    // A name the type information does not list: read it as a property when it is one that
    // takes no arguments, else hand it out as a callable (a method is never called by reading
    // its name).
    const DISPID id = idOf(wide);
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    sky::Variant result;
    EXCEPINFO exception{};
    HRESULT hr;
    {
        py::gil_scoped_release unlocked;
        hr = object_->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &params, result.put(),
                             &exception, nullptr);
    }
    if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_BADPARAMCOUNT || hr == DISP_E_PARAMNOTOPTIONAL)
        return py::cast(
            BoundMember{self, name, id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr});
    if (FAILED(hr))
        raiseInvokeFailure(hr, exception);
    return fromVariant(*result.get());
}

void Object::setAttribute(const std::string& name, py::handle value) {
    checkThread();
    const std::u16string wide = sky::widen(name);
    const MemberInfo* info = known(sky::upper(wide));
    const DISPID id = info ? info->id : idOf(wide);
    std::vector<sky::Variant> arguments{toVariant(value)};
    const bool byReference = info && info->putref && (!info->put || dispatchOf(value));
    // A member the face has read-only may be written through another face of the object,
    // which the object finds by name itself.
    HRESULT failure = S_OK;
    invoke(id, byReference ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT, arguments, true,
           DISP_E_MEMBERNOTFOUND, &failure);
    if (failure == DISP_E_MEMBERNOTFOUND) {
        PyErr_SetString(PyExc_AttributeError, ("\"" + name + "\" is read-only").c_str());
        throw py::error_already_set();
    }
}

// ---- collections ---------------------------------------------------------------------------

// The items of a collection's _NewEnum, fetched a few at a time.
class Enumerator {
public:
    explicit Enumerator(sky::ComPtr<IEnumVARIANT> items)
        : items_(std::move(items)), thread_(std::this_thread::get_id()) {}

    py::object next() {
        if (std::this_thread::get_id() != thread_)
            raise(kWrongThread, sky::resultText(kWrongThread), {});
        if (at_ == batch_.size()) {
            batch_.clear();
            at_ = 0;
            if (done_)
                throw py::stop_iteration();
            std::array<VARIANT, kBatch> fetched;
            for (VARIANT& v : fetched)
                VariantInit(&v);
            ULONG count = 0;
            HRESULT hr;
            {
                py::gil_scoped_release unlocked;
                hr = items_->Next(kBatch, fetched.data(), &count);
            }
            if (FAILED(hr))
                raise(sky::ComError(hr));
            for (ULONG i = 0; i < count && i < kBatch; ++i)
                batch_.push_back(sky::Variant::adopt(fetched[i]));
            done_ = hr == S_FALSE || count < kBatch;
            if (batch_.empty())
                throw py::stop_iteration();
        }
        return fromVariant(*batch_[at_++].get());
    }

private:
    static constexpr ULONG kBatch = 32;
    sky::ComPtr<IEnumVARIANT> items_;
    std::thread::id thread_;
    std::vector<sky::Variant> batch_;
    std::size_t at_ = 0;
    bool done_ = false;
};

Enumerator enumerate(Object& collection) {
    std::vector<sky::Variant> none;
    sky::Variant items =
        collection.invoke(DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, none);
    sky::ComPtr<IEnumVARIANT> enumerator;
    if (items.type() == VT_UNKNOWN || items.type() == VT_DISPATCH)
        enumerator = sky::ComPtr<IUnknown>(items.get()->punkVal).tryAs<IEnumVARIANT>();
    if (!enumerator)
        throw py::type_error("the object is not a collection (its _NewEnum gave no enumerator)");
    return Enumerator(std::move(enumerator));
}

// ---- the type library ----------------------------------------------------------------------

// The enumerations' constants of the object model's type library: name -> value.
// The object model's type library, compiled into the extension.
sky::ComPtr<ITypeLib> objectModelLibrary() {
    const sky::dispatch::Table& any = sky::dispatch::TableOf<ISkyloomFarm>::get();
    sky::ComPtr<ITypeLib> lib;
    if (any.typelib) {
        py::gil_scoped_release unlocked;
        if (FAILED(sky::typelib::loadTypeLibFromMemory(any.typelib->data, any.typelib->size,
                                                       lib.put())))
            lib = nullptr;
    }
    return lib;
}

py::dict constants() {
    py::dict out;
    sky::ComPtr<ITypeLib> lib = objectModelLibrary();
    if (!lib)
        return out;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != TKIND_ENUM)
            continue;
        sky::ComPtr<ITypeInfo> info;
        TYPEATTR* attr = nullptr;
        if (FAILED(lib->GetTypeInfo(i, info.put())) || FAILED(info->GetTypeAttr(&attr)))
            continue;
        for (WORD v = 0; v < attr->cVars; ++v) {
            VARDESC* var = nullptr;
            if (FAILED(info->GetVarDesc(v, &var)) || !var)
                continue;
            sky::Bstr name;
            UINT got = 0;
            BSTR names[1] = {nullptr};
            if (SUCCEEDED(info->GetNames(var->memid, names, 1, &got)) && got == 1) {
                name = sky::Bstr::adopt(names[0]);
                if (var->lpvarValue)
                    out[py::str(name.utf8())] = fromVariant(*var->lpvarValue);
            }
            info->ReleaseVarDesc(var);
        }
        info->ReleaseTypeAttr(attr);
    }
    return out;
}

// The .pyi text of every dispatch interface of the object model's type library: a class per
// interface, deriving from Object, with its properties and callables typed.
std::string stubText() {
    sky::ComPtr<ITypeLib> lib = objectModelLibrary();
    if (!lib)
        return {};
    std::map<std::string, std::string> classes;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        sky::ComPtr<ITypeInfo> info;
        TYPEATTR* attr = nullptr;
        if (FAILED(lib->GetTypeInfo(i, info.put())) || FAILED(info->GetTypeAttr(&attr)))
            continue;
        const IID iid = attr->guid;
        const bool dispatch = attr->typekind == TKIND_DISPATCH;
        info->ReleaseTypeAttr(attr);
        const sky::remote::InterfaceMarshal* marshal =
            dispatch ? sky::remote::findInterface(iid) : nullptr;
        if (!marshal)
            continue;
        const auto members = membersOf(marshal->table);
        const sky::dispatch::Table& table = *marshal->table;
        const HelpStrings help = helpOf(table);
        std::string text = "class " + sky::narrow(table.name) + "(Object):\n";
        if (!help.interfaceHelp.empty())
            text += "    \"\"\"" + help.interfaceHelp + "\"\"\"\n";
        std::map<std::string, std::string> lines;
        for (const auto& [key, info] : members->byName) {
            const std::string name = sky::narrow(info.name);
            if (name.empty() || name[0] == '_' || isPythonKeyword(name))
                continue;
            std::string line;
            if (info.isValue()) {
                const std::string type =
                    pythonType(info.get->resultVt, resultTable(table, *info.get));
                line = info.put || info.putref
                           ? "    " + name + ": " + type + "\n"
                           : "    @property\n    def " + name + "(self) -> " + type + ": ...\n";
            } else if (info.callable()) {
                line = "    def " + name + callSignature(table, *info.callable(), true) + ": ...\n";
            } else {
                continue;
            }
            lines[name] = line;
        }
        for (const auto& [name, line] : lines)
            text += line;
        if (lines.empty() && help.interfaceHelp.empty())
            text += "    ...\n";
        classes[sky::narrow(table.name)] = text;
    }
    std::string out;
    for (const auto& [name, text] : classes)
        out += "\n" + text;
    return out;
}

// The default interface of a class the object model's type library describes, else IID_NULL.
IID defaultInterfaceOf(const CLSID& clsid) {
    static std::mutex lock;
    static std::map<std::string, IID> known; // by the class's GUID text
    OLECHAR text[40];
    StringFromGUID2(clsid, text, 40);
    const std::string key = sky::narrow(text);
    {
        std::lock_guard<std::mutex> guard(lock);
        if (auto it = known.find(key); it != known.end())
            return it->second;
    }
    IID found = IID_NULL;
    sky::ComPtr<ITypeLib> lib = objectModelLibrary();
    sky::ComPtr<ITypeInfo> coclass;
    TYPEATTR* attr = nullptr;
    if (lib && SUCCEEDED(lib->GetTypeInfoOfGuid(clsid, coclass.put())) &&
        SUCCEEDED(coclass->GetTypeAttr(&attr))) {
        for (UINT i = 0; i < attr->cImplTypes && IsEqualIID(found, IID_NULL); ++i) {
            INT flags = 0;
            HREFTYPE ref = 0;
            sky::ComPtr<ITypeInfo> face;
            TYPEATTR* faceAttr = nullptr;
            if (SUCCEEDED(coclass->GetImplTypeFlags(i, &flags)) &&
                (flags & IMPLTYPEFLAG_FDEFAULT) &&
                SUCCEEDED(coclass->GetRefTypeOfImplType(i, &ref)) &&
                SUCCEEDED(coclass->GetRefTypeInfo(ref, face.put())) &&
                SUCCEEDED(face->GetTypeAttr(&faceAttr))) {
                found = faceAttr->guid;
                face->ReleaseTypeAttr(faceAttr);
            }
        }
        coclass->ReleaseTypeAttr(attr);
    }
    std::lock_guard<std::mutex> guard(lock);
    known[key] = found;
    return found;
}

// Creates an object as BraskAdmin does (CLSIDFromProgID, CoCreateInstance) and takes it at its
// class's default interface when the type library names one: across the boundary, a proxy of
// that dual interface carries type information, which a plain IDispatch proxy lacks.
py::object createObject(const std::string& progId) {
    enterApartment();
    sky::ComPtr<IDispatch> object;
    try {
        const std::u16string id = sky::widen(progId);
        CLSID clsid{};
        {
            py::gil_scoped_release unlocked;
            object = sky::createObject<IDispatch>(id);
        }
        if (SUCCEEDED(CLSIDFromProgID(id.c_str(), &clsid))) {
            const IID face = defaultInterfaceOf(clsid);
            void* typed = nullptr;
            if (!IsEqualIID(face, IID_NULL)) {
                py::gil_scoped_release unlocked;
                if (SUCCEEDED(object->QueryInterface(face, &typed)) && typed)
                    object = sky::ComPtr<IDispatch>::adopt(static_cast<IDispatch*>(typed));
            }
        }
    } catch (const sky::ComError& e) {
        raise(e);
    }
    return wrap(std::move(object));
}

// Attribute reads of an Object: a name that begins with a letter is a member of the automation
// object, asked at once; any other (Python's own, the class's methods) is looked up as Python
// looks up attributes. This takes the place of __getattr__, which Python calls only after its
// own look-up has failed and raised AttributeError, and which pybind11 reaches through its
// overload dispatch: together a third of a property get's time in Python.
PyObject* getMember(PyObject* self, PyObject* name) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_Check(name) ? PyUnicode_AsUTF8AndSize(name, &size) : nullptr;
    if (!text || size == 0 ||
        !((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z')))
        return PyObject_GenericGetAttr(self, name);
    try {
        py::object object = py::reinterpret_borrow<py::object>(self);
        return object.cast<Object&>()
            .getAttribute(object, std::string(text, static_cast<std::size_t>(size)))
            .release()
            .ptr();
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (py::builtin_exception& e) {
        e.set_error();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    }
    return nullptr;
}

} // namespace

PYBIND11_MODULE(_skyloom, m) {
    m.doc() = "The farm's automation object model, late-bound (the package skyloom)";

    py::class_<BoundMember>(m, "Member")
        .def("__call__", &BoundMember::call)
        .def("__repr__", [](const BoundMember& b) { return "<skyloom member " + b.name + ">"; });

    py::class_<Enumerator>(m, "Enumerator")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &Enumerator::next);

    py::class_<Object> object(m, "Object");
    reinterpret_cast<PyTypeObject*>(object.ptr())->tp_getattro = &getMember;
    PyType_Modified(reinterpret_cast<PyTypeObject*>(object.ptr()));
    object.def("__setattr__", &Object::setAttribute)
        .def("__call__",
             [](Object& self, py::args args) {
                 return self.call(DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr,
                                  std::move(args));
             })
        .def("__iter__", [](Object& self) { return enumerate(self); })
        .def("__len__",
             [](Object& self) -> std::size_t {
                 DISPID count = DISPID_UNKNOWN;
                 try {
                     count = self.idOf(u"Count");
                 } catch (const py::error_already_set&) {
                     throw py::type_error("the object has no Count");
                 }
                 std::vector<sky::Variant> none;
                 return fromVariant(*self.invoke(count, DISPATCH_PROPERTYGET, none).get())
                     .cast<std::size_t>();
             })
        .def("__eq__",
             [](Object& self, py::handle other) {
                 IDispatch* that = dispatchOf(other);
                 if (!that)
                     return false;
                 sky::ComPtr<IUnknown> a = sky::ComPtr<IDispatch>(self.get()).as<IUnknown>();
                 sky::ComPtr<IUnknown> b = sky::ComPtr<IDispatch>(that).as<IUnknown>();
                 return a.get() == b.get();
             })
        .def("__hash__",
             [](Object& self) {
                 return reinterpret_cast<std::uintptr_t>(
                     sky::ComPtr<IDispatch>(self.get()).as<IUnknown>().get());
             })
        .def("__dir__", &Object::names)
        .def_property_readonly("__doc__", &Object::documentation)
        .def("__repr__", [](Object& self) {
            const TypeMembers* members = self.members();
            return std::string("<skyloom object ") +
                   (members ? sky::narrow(members->table->name) : std::string("IDispatch")) + ">";
        });

    m.def("Dispatch", &createObject, py::arg("progid"),
          "Creates an object by programmatic identifier (\"SkyloomCOM.SkyloomFarm\"), as "
          "BraskAdmin does, and returns it late-bound.");
    m.def("_constants", &constants);
    m.def("_stub_text", &stubText);
    m.def(
        "_default_machine", [] { return sky::machine::defaultRoot().string(); },
        "The machine the platform uses without SKYLOOM_MACHINE: the system machine for root and "
        "its group's members, else the user's own.");
    m.def("_result_text",
          [](std::int64_t hr) { return sky::narrow(sky::resultText(static_cast<HRESULT>(hr))); });
}
