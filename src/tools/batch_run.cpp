#include "tools/batch_run.h"

#include <stdexcept>

#include "core/tool_error.h"

BatchRun::BatchRun(ProgressSink& progress, size_t total) : m_progress(progress), m_total(total) {}

void BatchRun::handle(const std::string& fileName, const Step& step) {
    bool accepted = false;
    try {
        accepted = step(m_progress.throttledBatch(fileName, m_handled, m_total));
    } catch (const ToolError& error) {
        if (m_sent.empty()) throw;
        throw ToolError(error.code, error.message + alreadySentNote());
    } catch (const std::exception& error) {
        if (m_sent.empty()) throw;
        throw std::runtime_error(error.what() + alreadySentNote());
    }
    if (accepted) m_sent.push_back(fileName);
    ++m_handled;
    m_progress.report(static_cast<double>(m_handled), static_cast<double>(m_total), fileName);
}

std::string BatchRun::alreadySentNote() const {
    std::string names;
    for (const auto& name : m_sent) names += (names.empty() ? "" : ", ") + name;
    return " Fichiers déjà envoyés avant l'erreur (ne les renvoie pas) : " + names + ".";
}
