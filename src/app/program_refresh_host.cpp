#include "app/program_refresh_host.h"

#include "app/program_core.h"
#include "catalogue/refresh_run.h"
#include "history/history_analyser.h"
#include "pages/page_writer.h"

#include <QCursor>
#include <QGuiApplication>

namespace app {

void ProgramRefreshHost::setStatusText(const QString& text) {
    core_.ShowStatusLine(text);
    if (core_.Run().runInProgress())
        core_.ShowPicturePreview(core_.Run().currentLink());
}

void ProgramRefreshHost::setProgressRange(int maximum) {
    core_.view().setProgressRange(maximum);
}

void ProgramRefreshHost::setProgressPosition(int position) {
    core_.view().setProgressPosition(position);
}

catalogue::RunLight ProgramRefreshHost::statusLight() const {
    return core_.view().statusLight();
}

void ProgramRefreshHost::setStatusLight(catalogue::RunLight light) {
    core_.view().setStatusLight(light);
}

void ProgramRefreshHost::setTrayAnimated(bool animated) {
    core_.view().setTrayAnimated(animated);
}

void ProgramRefreshHost::setRefreshControlsEnabled(bool enabled) {
    core_.SetRefreshControlsEnabled(enabled);
}

void ProgramRefreshHost::showStatus() {
    core_.ShowStatus();
}

void ProgramRefreshHost::WriteSupportPages(const QByteArray&) {
    // The support pages are made from "listings.xml", which the run has
    // just saved.
    core_.pageWriter_->writeSupportPages();
}

void ProgramRefreshHost::WriteCataloguePages(const QByteArray& catalogueText) {
    core_.pageWriter_->writeCataloguePages(catalogueText);
}

void ProgramRefreshHost::runHistoryAnalysis() {
    core_.analysingHistory_ = true;
    try {
        core_.historyAnalyser_->AnalyseHistory();
    } catch (...) {
        core_.analysingHistory_ = false;
        throw; // the refresh run ends its history step on it
    }
    core_.analysingHistory_ = false;
}

void ProgramRefreshHost::clearWorkLists() {
    core_.historyAnalyser_->clearWorkLists();
}

void ProgramRefreshHost::rememberCursor() {
    if (!core_.desktop() || cursorOverridden_)
        return;
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    cursorOverridden_ = true;
}

void ProgramRefreshHost::restoreCursor() {
    if (!cursorOverridden_)
        return;
    QGuiApplication::restoreOverrideCursor();
    cursorOverridden_ = false;
}

} // namespace app
