// zentovi-calc: hands one picture path to LibreOffice Calc through UNO.
//
// Started by the program with a deadline, so a LibreOffice dialog that blocks a call can never
// freeze the user interface: the program just kills this process. It talks to the office over a
// private pipe (only the same user can connect) and exits without closing the document or the
// office, which releases every reference it held.

#include <cppuhelper/bootstrap.hxx>
#include <osl/file.hxx>
#include <osl/process.h>
#include <rtl/bootstrap.hxx>
#include <rtl/ustrbuf.hxx>
#include <rtl/ustring.hxx>

#include <com/sun/star/awt/XTopWindow.hpp>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameContainer.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/drawing/XDrawPageSupplier.hpp>
#include <com/sun/star/drawing/XShape.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/script/XLibraryContainer.hpp>
#include <com/sun/star/script/provider/XScript.hpp>
#include <com/sun/star/script/provider/XScriptProvider.hpp>
#include <com/sun/star/script/provider/XScriptProviderSupplier.hpp>
#include <com/sun/star/sheet/XCellAddressable.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef ZENTOVI_OFFICE_PROGRAM_DIR
#define ZENTOVI_OFFICE_PROGRAM_DIR "/usr/lib/libreoffice/program"
#endif

using namespace com::sun::star;
using rtl::OUString;
using uno::Any;
using uno::Reference;
using uno::Sequence;
using uno::UNO_QUERY;
using uno::UNO_QUERY_THROW;

namespace {

enum ExitCode {
    Ok = 0,
    Usage = 2,
    NoOffice = 3, // the office could not be started or reached before the deadline
    NoDocument = 4, // the workbook did not load (or, for --inspect, is not open)
    Failed = 5, // a later step failed; the document stays open as far as it got
};

struct Options {
    std::string mode = "export"; // export, inspect, make-template
    std::string workbook;
    std::string cellText;
    std::string macro = "Macro1";
    std::string macroSource; // make-template: file with the Basic module's text
    std::string profile; // a private user installation folder (tests, template generation)
    std::string pipe; // fixed pipe name; random when empty
    bool hidden = false;
    bool headless = false;
    bool terminate = false;
    int deadline = 30;
};

void usage()
{
    std::cerr << "usage: zentovi-calc [options] WORKBOOK CELLTEXT [MACRO]\n"
                 "       zentovi-calc --inspect [options] WORKBOOK\n"
                 "       zentovi-calc --make-template BASICFILE [options] WORKBOOK\n"
                 "options: --hidden --headless --terminate --deadline SECONDS\n"
                 "         --profile FOLDER --pipe NAME\n";
}

bool parse(int argc, char** argv, Options& o)
{
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        if (a == "--hidden")
            o.hidden = true;
        else if (a == "--headless")
            o.headless = o.hidden = true;
        else if (a == "--terminate")
            o.terminate = true;
        else if (a == "--inspect")
            o.mode = "inspect";
        else if (a == "--make-template") {
            o.mode = "make-template";
            if (!value(o.macroSource))
                return false;
        } else if (a == "--profile") {
            if (!value(o.profile))
                return false;
        } else if (a == "--pipe") {
            if (!value(o.pipe))
                return false;
        } else if (a == "--deadline") {
            std::string s;
            if (!value(s))
                return false;
            o.deadline = std::atoi(s.c_str());
            if (o.deadline <= 0)
                return false;
        } else if (a == "--")
            positional.insert(positional.end(), argv + i + 1, argv + argc), i = argc;
        else if (a.size() > 1 && a[0] == '-' && a[1] == '-')
            return false;
        else
            positional.push_back(a);
    }
    if (positional.empty())
        return false;
    o.workbook = positional[0];
    if (o.mode == "export") {
        if (positional.size() < 2 || positional.size() > 3)
            return false;
        o.cellText = positional[1];
        if (positional.size() == 3)
            o.macro = positional[2];
    } else if (positional.size() != 1)
        return false;
    return true;
}

OUString fromUtf8(const std::string& s)
{
    return OUString(s.data(), s.size(), RTL_TEXTENCODING_UTF8);
}
std::string toUtf8(const OUString& s)
{
    const rtl::OString o = rtl::OUStringToOString(s, RTL_TEXTENCODING_UTF8);
    return std::string(o.getStr(), o.getLength());
}

// An absolute file URL for a path that may be relative to the working folder.
OUString fileUrl(const std::string& path)
{
    OUString url;
    osl::FileBase::getFileURLFromSystemPath(fromUtf8(path), url);
    OUString cwd;
    osl_getProcessWorkingDir(&cwd.pData);
    OUString absolute;
    if (osl::FileBase::getAbsoluteFileURL(cwd, url, absolute) == osl::FileBase::E_None)
        return absolute;
    return url;
}

std::string randomPipeName()
{
    std::random_device rd;
    std::ostringstream s;
    s << "zentovi-" << std::hex;
    for (int i = 0; i < 4; ++i)
        s << rd();
    return s.str();
}

// Starts soffice detached, in its own session, so it outlives this helper and is not killed
// with it. When an office already runs for the profile, this start only hands the listener
// over to it and ends.
bool startOffice(const Options& o, const std::string& pipe)
{
    std::vector<std::string> args = { std::string(ZENTOVI_OFFICE_PROGRAM_DIR) + "/soffice", "--nodefault",
        "--norestore", "--nologo", "--accept=pipe,name=" + pipe + ";urp;" };
    if (o.headless)
        args.push_back("--headless");
    if (!o.profile.empty())
        args.push_back("-env:UserInstallation=" + toUtf8(fileUrl(o.profile)));
    pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        setsid();
        if (fork() != 0)
            _exit(0);
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            if (null > 2)
                close(null);
        }
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    return true;
}

Reference<uno::XComponentContext> connect(const Reference<uno::XComponentContext>& local, const Options& o,
    std::chrono::steady_clock::time_point deadline)
{
    Reference<bridge::XUnoUrlResolver> resolver = bridge::UnoUrlResolver::create(local);

    const std::string pipe = o.pipe.empty() ? randomPipeName() : o.pipe;
    const OUString url = "uno:pipe,name=" + fromUtf8(pipe) + ";urp;StarOffice.ComponentContext";
    auto tryResolve = [&]() -> Reference<uno::XComponentContext> {
        try {
            return Reference<uno::XComponentContext>(resolver->resolve(url), UNO_QUERY);
        } catch (const connection::NoConnectException&) {
            return {};
        }
    };
    // A fixed pipe may already be served (a test's second call).
    if (!o.pipe.empty())
        if (auto ctx = tryResolve(); ctx.is())
            return ctx;
    if (!startOffice(o, pipe))
        return {};
    while (std::chrono::steady_clock::now() < deadline) {
        if (auto ctx = tryResolve(); ctx.is())
            return ctx;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
}

beans::PropertyValue property(const char* name, const Any& value)
{
    beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

Reference<frame::XDesktop2> desktopOf(const Reference<uno::XComponentContext>& ctx)
{
    return frame::Desktop::create(ctx);
}

Reference<lang::XComponent> loadWorkbook(const Reference<frame::XDesktop2>& desktop, const Options& o)
{
    // Mode 4 (ALWAYS_EXECUTE_NO_WARN) applies to this document only; the user's macro
    // security setting stays as it is.
    beans::PropertyValue props[] = {
        property("Hidden", Any(o.hidden)),
        property("MacroExecutionMode", Any(sal_Int16(document::MacroExecMode::ALWAYS_EXECUTE_NO_WARN))),
    };
    return desktop->loadComponentFromURL(
        fileUrl(o.workbook), "_blank", 0, Sequence<beans::PropertyValue>(props, 2));
}

Reference<sheet::XSpreadsheet> firstSheet(const Reference<lang::XComponent>& doc)
{
    Reference<sheet::XSpreadsheetDocument> sdoc(doc, UNO_QUERY_THROW);
    Reference<container::XIndexAccess> sheets(sdoc->getSheets(), UNO_QUERY_THROW);
    return Reference<sheet::XSpreadsheet>(sheets->getByIndex(0), UNO_QUERY_THROW);
}

void showWindow(const Reference<lang::XComponent>& doc)
{
    Reference<frame::XModel> model(doc, UNO_QUERY_THROW);
    Reference<awt::XWindow> window = model->getCurrentController()->getFrame()->getContainerWindow();
    window->setVisible(true);
    Reference<awt::XTopWindow> top(window, UNO_QUERY);
    if (top.is())
        top->toFront();
}

OUString scriptUrl(const std::string& macro)
{
    // A bare name is a macro of the template's own module.
    std::string qualified = macro.find('.') == std::string::npos ? "Standard.Module1." + macro : macro;
    return "vnd.sun.star.script:" + fromUtf8(qualified) + "?language=Basic&location=document";
}

void runMacro(const Reference<lang::XComponent>& doc, const std::string& macro)
{
    Reference<script::provider::XScriptProviderSupplier> supplier(doc, UNO_QUERY_THROW);
    Reference<script::provider::XScript> script = supplier->getScriptProvider()->getScript(scriptUrl(macro));
    Sequence<sal_Int16> outIndex;
    Sequence<Any> outArgs;
    script->invoke(Sequence<Any>(), outIndex, outArgs);
}

int exportPicture(const Reference<uno::XComponentContext>& ctx, const Options& o)
{
    Reference<lang::XComponent> doc = loadWorkbook(desktopOf(ctx), o);
    if (!doc.is())
        return NoDocument;
    int result = Ok;
    Reference<sheet::XSpreadsheet> sheet;
    // Each step goes on after a failure of the one before, as far as it can.
    try {
        sheet = firstSheet(doc);
    } catch (const uno::Exception& e) {
        std::cerr << "zentovi-calc: no sheet 1: " << toUtf8(e.Message) << "\n";
        result = Failed;
    }
    if (!o.hidden) {
        try {
            showWindow(doc);
        } catch (const uno::Exception& e) {
            std::cerr << "zentovi-calc: cannot show the window: " << toUtf8(e.Message) << "\n";
            result = Failed;
        }
    }
    if (sheet.is()) {
        try {
            Reference<text::XTextRange> b2(sheet->getCellByPosition(1, 1), UNO_QUERY_THROW);
            b2->setString(fromUtf8(o.cellText));
        } catch (const uno::Exception& e) {
            std::cerr << "zentovi-calc: cannot write B2: " << toUtf8(e.Message) << "\n";
            result = Failed;
        }
    }
    try {
        runMacro(doc, o.macro);
    } catch (const uno::Exception& e) {
        std::cerr << "zentovi-calc: macro failed: " << toUtf8(e.Message) << "\n";
        result = Failed;
    }
    return result;
}

Reference<lang::XComponent> findOpenDocument(const Reference<frame::XDesktop2>& desktop, const OUString& url)
{
    Reference<container::XEnumeration> e = desktop->getComponents()->createEnumeration();
    while (e->hasMoreElements()) {
        Reference<frame::XModel> model(e->nextElement(), UNO_QUERY);
        if (model.is() && model->getURL() == url)
            return Reference<lang::XComponent>(model, UNO_QUERY);
    }
    return {};
}

std::string cellName(const table::CellAddress& a)
{
    std::string col;
    for (sal_Int32 c = a.Column + 1; c > 0; c = (c - 1) / 26)
        col.insert(col.begin(), char('A' + (c - 1) % 26));
    return col + std::to_string(a.Row + 1);
}

// Prints what the open workbook holds, one "key: value" a line, for tests.
int inspect(const Reference<uno::XComponentContext>& ctx, const Options& o)
{
    Reference<lang::XComponent> doc = findOpenDocument(desktopOf(ctx), fileUrl(o.workbook));
    if (!doc.is())
        return NoDocument;
    Reference<sheet::XSpreadsheet> sheet = firstSheet(doc);
    Reference<table::XCell> b2 = sheet->getCellByPosition(1, 1);
    const char* type = "EMPTY";
    switch (b2->getType()) {
    case table::CellContentType_VALUE:
        type = "VALUE";
        break;
    case table::CellContentType_TEXT:
        type = "TEXT";
        break;
    case table::CellContentType_FORMULA:
        type = "FORMULA";
        break;
    default:
        break;
    }
    std::cout << "b2-type: " << type << "\n";
    std::cout << "b2: " << toUtf8(Reference<text::XTextRange>(b2, UNO_QUERY_THROW)->getString()) << "\n";

    Reference<drawing::XDrawPageSupplier> pageSupplier(sheet, UNO_QUERY_THROW);
    // Marked deprecated in the IDL, yet still how a sheet gives its draw page.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Reference<container::XIndexAccess> page(pageSupplier->getDrawPage(), UNO_QUERY_THROW);
#pragma GCC diagnostic pop
    int graphics = 0;
    for (sal_Int32 i = 0; i < page->getCount(); ++i) {
        Reference<drawing::XShape> shape(page->getByIndex(i), UNO_QUERY);
        if (!shape.is())
            continue;
        Reference<lang::XServiceInfo> info(shape, UNO_QUERY);
        if (!info.is() || !info->supportsService("com.sun.star.drawing.GraphicObjectShape"))
            continue;
        ++graphics;
        awt::Size size = shape->getSize();
        std::cout << "graphic-size: " << size.Width << " " << size.Height << "\n";
        Reference<beans::XPropertySet> props(shape, UNO_QUERY_THROW);
        Reference<sheet::XCellAddressable> anchor(props->getPropertyValue("Anchor"), UNO_QUERY);
        std::cout << "graphic-anchor: " << (anchor.is() ? cellName(anchor->getCellAddress()) : "page")
                  << "\n";
        OUString link;
        props->getPropertyValue("GraphicURL") >>= link; // empty for an embedded picture
        std::cout << "graphic-linked: " << (link.isEmpty() ? "no" : "yes") << "\n";
    }
    std::cout << "graphics: " << graphics << "\n";
    return Ok;
}

// Writes a fresh spreadsheet, in ODF, holding the given Basic text as Standard.Module1. Only
// ODF keeps Basic modules; the file may carry any name, the office detects the format.
int makeTemplate(const Reference<uno::XComponentContext>& ctx, const Options& o)
{
    std::ifstream in(o.macroSource, std::ios::binary);
    if (!in) {
        std::cerr << "zentovi-calc: cannot read " << o.macroSource << "\n";
        return Usage;
    }
    std::stringstream source;
    source << in.rdbuf();

    beans::PropertyValue hidden[] = { property("Hidden", Any(true)) };
    Reference<lang::XComponent> doc = desktopOf(ctx)->loadComponentFromURL(
        "private:factory/scalc", "_blank", 0, Sequence<beans::PropertyValue>(hidden, 1));
    if (!doc.is())
        return NoDocument;
    Reference<beans::XPropertySet> docProps(doc, UNO_QUERY_THROW);
    Reference<script::XLibraryContainer> libraries(
        docProps->getPropertyValue("BasicLibraries"), UNO_QUERY_THROW);
    Reference<container::XNameContainer> standard;
    if (libraries->hasByName("Standard"))
        standard.set(libraries->getByName("Standard"), UNO_QUERY_THROW);
    else
        standard.set(libraries->createLibrary("Standard"), UNO_QUERY_THROW);
    const OUString module = fromUtf8(source.str());
    if (standard->hasByName("Module1"))
        standard->replaceByName("Module1", Any(module));
    else
        standard->insertByName("Module1", Any(module));

    beans::PropertyValue store[]
        = { property("FilterName", Any(OUString("calc8"))), property("Overwrite", Any(true)) };
    Reference<frame::XStorable>(doc, UNO_QUERY_THROW)
        ->storeToURL(fileUrl(o.workbook), Sequence<beans::PropertyValue>(store, 2));
    Reference<util::XCloseable>(doc, UNO_QUERY_THROW)->close(true);
    return Ok;
}

// Closes every document without saving and ends the office (tests and generation only).
void terminateOffice(const Reference<uno::XComponentContext>& ctx)
{
    Reference<frame::XDesktop2> desktop = desktopOf(ctx);
    std::vector<Reference<util::XCloseable>> docs;
    Reference<container::XEnumeration> e = desktop->getComponents()->createEnumeration();
    while (e->hasMoreElements()) {
        Reference<util::XCloseable> c(e->nextElement(), UNO_QUERY);
        if (c.is())
            docs.push_back(c);
    }
    for (auto& c : docs) {
        try {
            c->close(true);
        } catch (const uno::Exception&) {
        }
    }
    try {
        desktop->terminate();
    } catch (const lang::DisposedException&) {
        // The bridge goes down with the office: expected.
    }
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!parse(argc, argv, o)) {
        usage();
        return Usage;
    }
    // A call blocked by a modal box in the office must not keep this process for ever.
    alarm(unsigned(o.deadline) * 2 + 10);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(o.deadline);

    int result = Ok;
    Reference<uno::XComponentContext> local;
    try {
        // Without this the bootstrap searches beside this executable and fails.
        rtl::Bootstrap::set("URE_BOOTSTRAP",
            "vnd.sun.star.pathname:" + fromUtf8(ZENTOVI_OFFICE_PROGRAM_DIR "/fundamentalrc"));
        local = cppu::defaultBootstrap_InitialComponentContext();
        Reference<uno::XComponentContext> ctx = connect(local, o, deadline);
        if (!ctx.is()) {
            std::cerr << "zentovi-calc: no office answered within " << o.deadline << " s\n";
            result = NoOffice;
        } else {
            try {
                if (o.mode == "inspect")
                    result = inspect(ctx, o);
                else if (o.mode == "make-template")
                    result = makeTemplate(ctx, o);
                else
                    result = exportPicture(ctx, o);
            } catch (const uno::Exception& e) {
                std::cerr << "zentovi-calc: " << toUtf8(e.Message) << "\n";
                result = o.mode == "export" ? NoDocument : Failed;
            }
            if (o.terminate)
                terminateOffice(ctx);
        }
    } catch (const uno::Exception& e) {
        std::cerr << "zentovi-calc: " << toUtf8(e.Message) << "\n";
        result = NoOffice;
    }
    // Disposing the local context closes the bridge cleanly; the office keeps the document.
    if (Reference<lang::XComponent> c { local, UNO_QUERY }; c.is())
        c->dispose();
    return result;
}
