// idlc: the IDL compiler. Reads a library in MIDL syntax and writes the C++ declarations, the
// dispatch tables and the binary type library; prints the catalogue of an IDL or .tlb file.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "analyzer.h"
#include "catalogue.h"
#include "diagnostics.h"
#include "generators.h"
#include "parser.h"
#include "sky/bounded_read.h"
#include "sky/output_file.h"
#include "sky/text.h"
#include "typelib_builder.h"
#include "win/typelib.h"

namespace fs = std::filesystem;

namespace {

// Reads a source file; false, with the reason on standard error, when it cannot.
bool readFile(const fs::path& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "idlc: cannot read %s\n", path.string().c_str());
        return false;
    }
    auto text = sky::readAtMost(in, sky::kMaxSourceFileBytes);
    if (!text) {
        std::fprintf(stderr, "idlc: %s is larger than %s; it is no IDL file\n",
                     path.string().c_str(), sky::sizeInWords(sky::kMaxSourceFileBytes).c_str());
        return false;
    }
    out = std::move(*text);
    return true;
}

// A regular file is replaced whole (a failure leaves the old one); a device or FIFO is written
// into as it stands.
std::error_code writeFile(const fs::path& path, const void* data, std::size_t size) {
    if (path.has_parent_path()) {
        std::error_code ec;
        fs::create_directories(path.parent_path(), ec);
    }
    return sky::writeOutputFile(path, std::string_view(static_cast<const char*>(data), size));
}

bool isTypeLibFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    char head[8] = {};
    in.read(head, sizeof head);
    return in.gcount() == sizeof head && sky::typelib::looksLikeImage(head, sizeof head);
}

int catalogueOfTypeLib(const fs::path& path) {
    std::u16string windowsPath = sky::widen(fs::absolute(path).string());
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadTypeLib(windowsPath.c_str(), &lib);
    if (FAILED(hr)) {
        std::fprintf(stderr, "idlc: %s: cannot load the type library (HRESULT 0x%08X)\n",
                     path.string().c_str(), static_cast<unsigned>(hr));
        return 1;
    }
    idlc::Catalogue c;
    hr = static_cast<HRESULT>(idlc::catalogueOf(lib, c));
    lib->Release();
    if (FAILED(hr)) {
        std::fprintf(stderr, "idlc: %s: cannot read the type library (HRESULT 0x%08X)\n",
                     path.string().c_str(), static_cast<unsigned>(hr));
        return 1;
    }
    std::cout << idlc::format(c);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"idlc: compiles an object library written in MIDL syntax into C++ declarations, "
                 "dispatch tables and a binary type library.\n"
                 "Without an output option it only checks the file."};
    std::string input, headerPath, dispatchPath, tlbPath, notImplPath, proxyPath, outDir;
    bool catalogue = false;
    app.add_option("file", input, "The IDL file (or, with --catalogue, a .tlb or module file)")
        ->required();
    app.add_option("--header", headerPath, "Write the C++ declarations header to this file");
    app.add_option("--dispatch", dispatchPath,
                   "Write the dispatch tables (C++ source) to this file");
    app.add_option("--tlb", tlbPath, "Write the binary type library to this file");
    app.add_option("--notimpl", notImplPath,
                   "Write a header of base classes whose members answer E_NOTIMPL");
    app.add_option("--proxy", proxyPath,
                   "Write the proxies for calls from other processes (C++ source) to this file");
    app.add_option(
        "-o,--output-dir", outDir,
        "Write every output into this directory as NAME.h, NAME_dispatch.cpp, "
        "NAME.tlb, NAME_notimpl.h and NAME_proxy.cpp (NAME: the IDL file's name); explicit paths "
        "are taken relative to it");
    app.add_flag("--catalogue", catalogue,
                 "Print the catalogue of the library (counts, then one line per interface: "
                 "name, IID, depth, own members); the file may be an IDL file or a type library");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help gives 0; a command line the parser refuses is misuse (2), told apart from a
        // fault in the file (1).
        return app.exit(e) == 0 ? 0 : 2;
    }

    fs::path source(input);
    if (catalogue && !isTypeLibFile(source) && source.extension() != ".idl" &&
        source.extension() != ".IDL")
        return catalogueOfTypeLib(source); // a module carrying the library as a resource
    if (catalogue && isTypeLibFile(source))
        return catalogueOfTypeLib(source);

    std::string text;
    if (!readFile(source, text))
        return 1;
    idlc::Library lib;
    try {
        lib = idlc::parse(input, text);
        idlc::analyze(lib);
    } catch (const idlc::CompileError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }

    if (catalogue) {
        std::cout << idlc::format(idlc::catalogueOf(lib));
        return 0;
    }

    std::string stem = source.stem().string();
    fs::path dir(outDir);
    if (!outDir.empty()) {
        if (headerPath.empty())
            headerPath = stem + ".h";
        if (dispatchPath.empty())
            dispatchPath = stem + "_dispatch.cpp";
        if (tlbPath.empty())
            tlbPath = stem + ".tlb";
        if (notImplPath.empty())
            notImplPath = stem + "_notimpl.h";
        if (proxyPath.empty())
            proxyPath = stem + "_proxy.cpp";
    }
    auto place = [&](const std::string& p) { return outDir.empty() ? fs::path(p) : dir / p; };

    std::vector<unsigned char> image;
    if (!tlbPath.empty() || !dispatchPath.empty())
        image = sky::typelib::serialize(idlc::buildTypeLib(lib));
    bool ok = true;
    auto emit = [&](const std::string& path, const void* data, std::size_t size) {
        if (std::error_code ec = writeFile(place(path), data, size)) {
            std::fprintf(stderr, "idlc: cannot write %s: %s\n", place(path).string().c_str(),
                         ec.message().c_str());
            ok = false;
        }
    };
    if (!headerPath.empty()) {
        std::string header = idlc::writeHeader(lib, source.filename().string());
        emit(headerPath, header.data(), header.size());
    }
    if (!dispatchPath.empty()) {
        std::string headerName =
            headerPath.empty() ? stem + ".h" : fs::path(headerPath).filename().string();
        std::string code = idlc::writeDispatch(lib, headerName, image);
        emit(dispatchPath, code.data(), code.size());
    }
    if (!tlbPath.empty())
        emit(tlbPath, image.data(), image.size());
    if (!notImplPath.empty()) {
        std::string headerName =
            headerPath.empty() ? stem + ".h" : fs::path(headerPath).filename().string();
        std::string code = idlc::writeNotImplHeader(lib, headerName);
        emit(notImplPath, code.data(), code.size());
    }
    if (!proxyPath.empty()) {
        std::string headerName =
            headerPath.empty() ? stem + ".h" : fs::path(headerPath).filename().string();
        std::string code = idlc::writeProxies(lib, headerName);
        emit(proxyPath, code.data(), code.size());
    }
    return ok ? 0 : 1;
}
