#include "link/ReplyAssembler.h"

void ReplyAssembler::AddChar(std::uint8_t byte) {
    if (byte == 0)
        return;
    if (byte < ' ') {
        if (!m_line.isEmpty())
            EndStr();
        return;
    }
    if (byte == ' ' && m_line.isEmpty())
        return;
    m_line.append(static_cast<char>(byte)); // dropped when the line is full
    if (byte == PROMPT) {
        EndStr();
        m_target.replyEnded();
    }
}

void ReplyAssembler::EndStr() {
    const ReplyLine line = m_line;
    m_line.clear();
    if (m_target.commandInProgress() && m_target.webCommandAtHead()) {
        m_target.captureLine(line);
        m_target.restartReplyWait();
        return;
    }
    m_target.consoleLine(line);
    m_target.restartConsoleTrim();
    if (m_target.commandInProgress())
        m_target.restartReplyWait();
}
