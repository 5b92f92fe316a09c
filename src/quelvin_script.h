#ifndef QUELVIN_SCRIPT_H
#define QUELVIN_SCRIPT_H

#include <QString>
#include <QStringList>

#include <functional>

class SoNode;
class SoSeparator;

// Runs the ECMAScript of VRML 97 Script nodes. Coin 4.0.0 as Debian builds
// it has no JavaScript engine: it reads every Script and then calls nobody.
// Here every Script Coin makes (read from a file, copied into a PROTO
// instance, built by another script) is noted; once it hangs below the
// world shown, its url is loaded and compiled in one QJSEngine shared by
// all scripts, initialize() runs, and the events routed to it call its
// functions. What a script sends goes out through Coin's routes, and the
// geometry it reaches is checked again before the next frame.
//
// A script sees its own fields, the nodes it is given and the Browser
// object; nothing else (no files, processes, network or environment).
// Every call is stopped after callBoundMs.
namespace Scripts {

// Time one call of a script (initialize, an event, eventsProcessed) may
// take before it is stopped, and the script with it.
const int callBoundMs = 250;

// What a script can ask of the program around it.
struct Host
{
    std::function<void(const QString &line)> log;
    std::function<void(const QString &text)> setDescription;
    // A URL as an anchor would follow it, already resolved.
    std::function<void(const QString &url)> loadURL;
    // A new root holding the nodes given, kept by the caller.
    std::function<void(SoSeparator *root)> replaceWorld;
    // Fetches a script's file over the network, as a texture is fetched;
    // sourceArrived() is called when it is there.
    std::function<void(const QString &url, SoNode *script)> fetch;
};

// Makes Coin hand every Script it creates to this unit. eventsToo false
// runs initialize() only (previews); call after SoDB::init().
void install(const Host &host, bool eventsToo = true);

// The world now shown, read from location (a path or URL): the scripts
// of the world before are shut down, and those below root start now,
// with every event their initialize() sends delivered before this
// returns. A null root shuts everything down.
void startWorld(SoNode *root, const QString &location);

// The file fetched for a Script has arrived at path: the script starts.
void sourceArrived(SoNode *script, const QString &path);

// An inline was given the children of its file: when a script's
// createVrmlFromURL fetched it, they go where the script asked.
void partArrived(SoNode *inlineNode);

// "scripts: 3 running, 2 not started (1 no supported url, 1 syntax error)"
// for the scripts started since the last call; empty when there were none.
QString takeAccount();

// Scripts running now, and the time spent on them since the start
// (calls, values taken and sent), for tests and the benchmark.
int runningCount();
qint64 busyNs();

} // namespace Scripts

#endif // QUELVIN_SCRIPT_H
