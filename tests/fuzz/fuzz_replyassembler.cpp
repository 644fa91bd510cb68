// The reply assembler fed arbitrary bytes in arbitrary chunks, with the routing flags
// changing between chunks. The lines and reply ends that come out are checked against the
// line rules one by one, then against a model that works the same bytes out segment by
// segment instead of byte by byte.
#include "FuzzSupport.h"
#include "link/ReplyAssembler.h"

#include <QByteArray>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

constexpr qsizetype LINE_CAPACITY = 80;

// What the assembler hands on, in order: a finished line, or the end of a reply.
struct Event {
    enum class Kind { Line, ReplyEnd };
    Kind kind = Kind::Line;
    QByteArray line;
    friend bool operator==(const Event&, const Event&) = default;
};

struct Outcome {
    std::vector<Event> events;
    QByteArray pending; // the line not ended yet
};

// Records every line, whichever way it is routed, and checks the route.
class RecordingTarget final : public ReplyTarget {
public:
    bool inProgress = false;
    bool webAtHead = false;
    std::vector<Event> events;

    bool commandInProgress() const override { return inProgress; }
    bool webCommandAtHead() const override { return webAtHead; }
    void captureLine(const ReplyLine& line) override {
        mustHold(inProgress && webAtHead, "only a web command in progress captures lines");
        events.push_back({Event::Kind::Line, line.bytes()});
    }
    void consoleLine(const ReplyLine& line) override {
        mustHold(!(inProgress && webAtHead),
                 "a web command's reply line never reaches the console");
        events.push_back({Event::Kind::Line, line.bytes()});
    }
    void restartReplyWait() override {}
    void restartConsoleTrim() override {}
    void replyEnded() override { events.push_back({Event::Kind::ReplyEnd, {}}); }
};

bool isControl(char byte) {
    return static_cast<std::uint8_t>(byte) < ' ';
}

QByteArray withoutLeadingSpaces(const QByteArray& segment) {
    const auto first =
        std::find_if(segment.begin(), segment.end(), [](char c) { return c != ' '; });
    return QByteArray(first, segment.end() - first);
}

// The assembler's rules worked out on whole segments: with the NUL bytes taken out, the
// bytes split after every control byte and after every "<". A segment without its control
// byte and its leading spaces, cut to 80 bytes, is a line when anything is left; a "<" also
// ends a reply (and is lost, like any byte, when its line is already full). The unended
// last segment is the pending line.
Outcome modelOf(const QByteArray& bytes) {
    Outcome model;
    QByteArray segment;
    const auto endSegment = [&] {
        const QByteArray line = withoutLeadingSpaces(segment).left(LINE_CAPACITY);
        segment.clear();
        if (!line.isEmpty())
            model.events.push_back({Event::Kind::Line, line});
    };
    for (const char byte : bytes) {
        if (byte == '\0')
            continue;
        if (isControl(byte)) {
            endSegment();
            continue;
        }
        segment.append(byte);
        if (byte == '<') {
            endSegment();
            model.events.push_back({Event::Kind::ReplyEnd, {}});
        }
    }
    model.pending = withoutLeadingSpaces(segment).left(LINE_CAPACITY);
    return model;
}

void checkLine(const QByteArray& line) {
    mustHold(!line.isEmpty(), "no empty line is handed on");
    mustHold(line.size() <= LINE_CAPACITY, "no line is longer than 80 bytes");
    mustHold(line.front() != ' ', "no line starts with a space");
    mustHold(std::none_of(line.begin(), line.end(), isControl), "no control byte inside a line");
    mustHold(!line.chopped(1).contains('<'), "a \"<\" ends its line");
}

// Each reply end follows the line that its "<" ended, and there is one for every "<".
void checkReplyEnds(const std::vector<Event>& events, const QByteArray& fed) {
    qsizetype ends = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].kind != Event::Kind::ReplyEnd)
            continue;
        ++ends;
        mustHold(i > 0 && events[i - 1].kind == Event::Kind::Line, "a \"<\" ends a line");
    }
    mustHold(ends == fed.count('<'), "every \"<\" ends a reply");
}

// What came out, read in order, is what went in with some bytes left out.
bool keepsOrder(const Outcome& outcome, const QByteArray& fed) {
    QByteArray kept;
    for (const Event& event : outcome.events)
        kept += event.line;
    kept += outcome.pending;
    auto next = fed.begin();
    for (const char byte : kept) {
        next = std::find(next, fed.end(), byte);
        if (next == fed.end())
            return false;
        ++next;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    RecordingTarget target;
    ReplyAssembler assembler(target);
    QByteArray fed;
    // Each chunk takes its routing flags and its length from the input's end, its bytes
    // from the front.
    while (input.remaining_bytes() > 0) {
        const auto flags = input.ConsumeIntegral<std::uint8_t>();
        target.inProgress = flags & 1;
        target.webAtHead = flags & 2;
        const std::string chunk = input.ConsumeBytesAsString(input.ConsumeIntegral<std::uint8_t>());
        assembler.addBytes(QByteArrayView(chunk.data(), qsizetype(chunk.size())));
        fed.append(chunk.data(), qsizetype(chunk.size()));
    }

    const Outcome outcome{target.events, assembler.pendingLine().bytes()};
    for (const Event& event : outcome.events)
        if (event.kind == Event::Kind::Line)
            checkLine(event.line);
    checkReplyEnds(outcome.events, fed);
    mustHold(keepsOrder(outcome, fed), "the bytes keep their order");
    const Outcome model = modelOf(fed);
    mustHold(outcome.events == model.events, "the lines and reply ends are what the rules make");
    mustHold(outcome.pending == model.pending, "the pending line is what the rules make");
    return 0;
}
