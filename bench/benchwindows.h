// The main window as a person has it while the figures are taken: on the
// table, its controls on, shown and painted; and what the benchmarks with
// windows share around it.
#pragma once

#include "benchutil.h"

#include "app/hauptformular.h"
#include "platform/system/system.h"

#include <QApplication>
#include <QDir>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace bench {

inline void showOnTable(THauptformular& window, const std::string& path) {
    window.Datentabelle.BindTable(QString::fromStdString(path));
    window.Datentabelle.OpenTable();
    window.EnableTableControls();
    window.show();
    QApplication::processEvents();
}

// One run on a table of count addresses (built, not measured) in a fresh
// directory, which is also the working and the program's directory (the
// run's Setup.ini lies there); all of it is gone when the run ends.
class TableRun {
public:
    TableRun(const char* name, std::size_t count)
        : directory_(name), path(directory_.file("Adressen.db")) {
        QDir::setCurrent(QString::fromStdString(directory_.path()));
        vellumo::setProgramDirectory(QString::fromStdString(directory_.path()));
        std::printf("\n%s: %zu address records\n", name, count);
        buildAddressTable(path, count);
    }

private:
    RunDirectory directory_;

public:
    const std::string path;
};

// One line of figures: what, the value and its unit, the target if any.
inline void figure(const char* what, double value, const char* unit, const char* target = "") {
    std::printf("  %-58s %9.2f %s  %s\n", what, value, unit, target);
}

// The main of a benchmark over the record counts its command line names
// (10,000 and 100,000 when none): run for each; an error ends it with 1.
inline int runForCounts(int argc, char** argv, const char* name,
                        const std::function<void(std::size_t count)>& run) {
    QApplication app(argc, argv);
    std::vector<std::size_t> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::strtoul(argv[i], nullptr, 10));
    if (counts.empty())
        counts = {10000, 100000};
    try {
        for (std::size_t count : counts)
            run(count);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
        return 1;
    }
    return 0;
}

} // namespace bench
