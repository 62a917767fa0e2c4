// Programs and state, the way a host saves a plug-in: through a bank chunk
// where the plug-in keeps chunks, and otherwise by reading each program's
// name and parameter values, switching programs, and restoring them into a
// fresh instance the same way; the two must then sound the same bit for
// bit. Edits survive switching away and back; renaming touches nothing
// else, in this instance or another; program indices stay in range.
#include "Common.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace validate {

namespace {

constexpr size_t kProgramText = 25;  // 24 characters and the terminator

struct SavedState {
    int32_t current = 0;
    std::vector<std::string> names;
    std::vector<std::vector<float>> values;
};

SavedState save(Instance& instance)
{
    SavedState state;
    state.current = instance.program();
    for (int32_t p = 0; p < instance.programs(); ++p) {
        instance.setProgram(p);
        state.names.push_back(instance.programName());
        std::vector<float> values;
        for (int32_t i = 0; i < instance.params(); ++i) values.push_back(instance.getParameter(i));
        state.values.push_back(values);
    }
    instance.setProgram(state.current);
    return state;
}

void restore(Instance& instance, const SavedState& state)
{
    for (int32_t p = 0; p < static_cast<int32_t>(state.names.size()); ++p) {
        instance.call(effSetProgram, 0, p);
        char name[kProgramText] = {};
        std::strncpy(name, state.names[static_cast<size_t>(p)].c_str(), kProgramText - 1);
        instance.call(effSetProgramName, 0, 0, name);
        for (int32_t i = 0; i < static_cast<int32_t>(state.values[static_cast<size_t>(p)].size()); ++i)
            instance.setParameter(i, state.values[static_cast<size_t>(p)][static_cast<size_t>(i)]);
    }
    instance.call(effSetProgram, 0, state.current);
}

bool sameValue(float a, float b) { return std::memcmp(&a, &b, sizeof(float)) == 0; }

Render play(Instance& instance, double seconds)
{
    instance.start(44100.0, 512);
    const int64_t total = static_cast<int64_t>(44100.0 * seconds);
    return render(instance, total, [](int64_t left) { return static_cast<int32_t>(std::min<int64_t>(512, left)); }, false,
                  signalSource(44100.0), 1e30);
}

std::string randomName(Rng& rng, size_t length)
{
    std::string name;
    for (size_t i = 0; i < length; ++i) name += static_cast<char>('A' + rng.below(26));
    return name;
}

}  // namespace

void programsGroup(Runner& runner)
{
    const Options& options = runner.options;
    auto module = loadForGroup(runner, "programs");
    if (!module) return;
    int32_t programs = 0, params = 0;
    {
        Instance probe(*module);
        programs = probe.programs();
        params = probe.params();
    }

    runner.run("programs.names", [&](Check& check) {
        if (programs == 0) check.skip("the plug-in has no programs");
        Instance instance(*module);
        GuardedBuffer buffer(256, '#');
        bool indexed = false;
        for (int32_t p = 0; p < programs; ++p) {
            buffer.reset();
            const intptr_t given = instance.call(effGetProgramNameIndexed, p, 0, buffer.data());
            check.expect(buffer.guardsIntact() && buffer.writtenExtent() <= kProgramText &&
                             (given == 0 || buffer.terminatedWithin(kProgramText)),
                         "indexed name of program %d: %zu bytes written", p, buffer.writtenExtent());
            std::string indexedName = given ? std::string(buffer.data(), strnlen(buffer.data(), kProgramText)) : "";
            indexed = indexed || given == 1;
            instance.call(effSetProgram, 0, p);
            check.expect(instance.call(effGetProgram) == p, "effSetProgram(%d) left program %lld", p,
                         static_cast<long long>(instance.call(effGetProgram)));
            buffer.reset();
            instance.call(effGetProgramName, 0, 0, buffer.data());
            check.expect(buffer.guardsIntact() && buffer.writtenExtent() <= kProgramText &&
                             buffer.terminatedWithin(kProgramText),
                         "name of program %d: %zu bytes written", p, buffer.writtenExtent());
            if (given == 1)
                check.expect(indexedName == std::string(buffer.data(), strnlen(buffer.data(), kProgramText)),
                             "program %d: indexed name '%s' differs from its name when chosen", p, indexedName.c_str());
        }
        check.note("%d programs%s", programs, indexed ? ", indexed names" : ", no indexed names");
    });

    runner.run("programs.out-of-range", [&](Check& check) {
        if (programs == 0) check.skip("the plug-in has no programs");
        Instance instance(*module);
        for (intptr_t p : {static_cast<intptr_t>(programs), static_cast<intptr_t>(-1), static_cast<intptr_t>(1000000),
                           static_cast<intptr_t>(0x100000000LL)}) {
            instance.call(effSetProgram, 0, p);
            const intptr_t now = instance.call(effGetProgram);
            check.expect(now >= 0 && now < programs, "after effSetProgram(%lld) the program is %lld",
                         static_cast<long long>(p), static_cast<long long>(now));
        }
    });

    runner.run("programs.save-and-restore", [&](Check& check) {
        if (programs == 0 && params == 0) check.skip("no programs and no parameters");
        // The saving and the restoring instance come from two copies of the
        // library, so that nothing global the two might share carries the state.
        TwoCopies copies(options, "save", "restore", check);

        Instance a(*copies.a);
        // Edits a host's user would make: every program renamed and set.
        Rng rng(runner.rng.next());
        for (int32_t p = 0; p < programs; ++p) {
            a.call(effSetProgram, 0, p);
            std::string name = randomName(rng, 1 + rng.below(24));
            char buffer[kProgramText] = {};
            std::strncpy(buffer, name.c_str(), kProgramText - 1);
            a.call(effSetProgramName, 0, 0, buffer);
            for (int32_t i = 0; i < params; ++i) a.setParameter(i, static_cast<float>(rng.unit()));
        }
        if (programs > 1) a.setProgram(static_cast<int32_t>(rng.below(static_cast<uint32_t>(programs))));
        if (programs == 0)
            for (int32_t i = 0; i < params; ++i) a.setParameter(i, static_cast<float>(rng.unit()));
        const SavedState state = save(a);

        // A plug-in that keeps its state in chunks is saved by hosts as a
        // bank chunk; the others through their programs and parameters.
        // The other formats save their whole state through it.
        const bool chunks = a.hasFlag(effFlagsProgramChunks);
        // A CLAP plug-in without the state extension is restored through
        // its parameters, as a VST 2.4 one without chunks.
        bool formatState = !a.isVst2();
        std::vector<char> bank;
        std::vector<uint8_t> saved;
        if (formatState) {
            // The edits reach the processing side with a block (one of no
            // frames), as a host's next block brings them, before it saves.
            a.start(44100.0, 512);
            AudioBuffers none(a.inputs(), a.outputs(), 1);
            a.process(none.inputs(), none.outputs(), 0);
            a.suspend();
            formatState = a.other->saveState(saved);
            check.require(formatState || a.format == Format::clap, "the plug-in gave no state");
            if (!formatState) check.note("no state extension: restored through its parameters");
        }
        if (chunks) {
            void* data = nullptr;
            const intptr_t size = a.call(effGetChunk, 0, 0, &data);
            check.require(size > 0 && data != nullptr, "effFlagsProgramChunks is set, yet effGetChunk gave no bank chunk");
            bank.assign(static_cast<const char*>(data), static_cast<const char*>(data) + size);
        }
        auto restoreInto = [&](Instance& into) {
            if (formatState)
                check.expect(into.other->loadState(saved), "the plug-in refused its own state");
            else if (chunks)
                into.call(effSetChunk, 0, static_cast<intptr_t>(bank.size()), bank.data());
            else if (programs == 0)
                for (int32_t i = 0; i < params; ++i) into.setParameter(i, a.getParameter(i));
            else
                restore(into, state);
        };
        Instance b(*copies.b);
        restoreInto(b);
        const SavedState again = save(b);
        check.expect(again.current == state.current, "current program %d restored as %d", state.current, again.current);
        for (size_t p = 0; p < state.names.size() && p < again.names.size(); ++p) {
            check.expect(again.names[p] == state.names[p], "program %zu named '%s', restored as '%s'", p,
                         state.names[p].c_str(), again.names[p].c_str());
            for (size_t i = 0; i < state.values[p].size(); ++i)
                check.expect(sameValue(again.values[p][i], state.values[p][i]),
                             "program %zu parameter %zu: %.9g restored as %.9g", p, i,
                             static_cast<double>(state.values[p][i]), static_cast<double>(again.values[p][i]));
        }
        const Render outA = play(a, options.quick ? 0.5 : 2.0);
        const Render outB = play(b, options.quick ? 0.5 : 2.0);
        if (!bitExact(outA, outB)) {
            // A noise source sounds different every time: the same state
            // restored twice tells randomness from a state that was lost.
            Instance c(*copies.b);
            restoreInto(c);
            const Render outC = play(c, options.quick ? 0.5 : 2.0);
            if (!bitExact(outB, outC) && options.instanceTolerance != 0.0)
                check.skip(format("the same state restored twice sounds different too (by %g): the output does not "
                                  "repeat itself", largestDifference(outB, outC)));
        }
        check.expect(bitExact(outA, outB), "the restored instance sounds different (largest difference %g)",
                     largestDifference(outA, outB));
        check.note("%d programs x %d parameters%s, output equal bit for bit", programs, params,
                   formatState ? format(", through its %s state (%zu bytes)", formatName(a.format), saved.size()).c_str()
                   : chunks ? ", through a bank chunk" : "");
    });

    runner.run("programs.switching-keeps-edits", [&](Check& check) {
        if (programs < 2 || params == 0) check.skip("needs two programs and a parameter");
        Instance instance(*module);
        Rng rng(runner.rng.next());
        std::vector<std::vector<float>> edits(static_cast<size_t>(programs));
        for (int32_t p = 0; p < programs; ++p) {
            instance.call(effSetProgram, 0, p);
            for (int32_t i = 0; i < params; ++i) {
                const float v = static_cast<float>(rng.unit());
                instance.setParameter(i, v);
                edits[static_cast<size_t>(p)].push_back(instance.getParameter(i));
            }
        }
        for (int32_t round = 0; round < 50; ++round) {
            const int32_t p = static_cast<int32_t>(rng.below(static_cast<uint32_t>(programs)));
            instance.call(effSetProgram, 0, p);
            for (int32_t i = 0; i < params; ++i)
                check.expect(sameValue(instance.getParameter(i), edits[static_cast<size_t>(p)][static_cast<size_t>(i)]),
                             "program %d parameter %d lost its edit after switching", p, i);
        }
    });

    runner.run("programs.names-per-instance", [&](Check& check) {
        // Two instances on two tracks: renaming a program in one must not
        // rename it in the other, nor in an instance opened afterwards.
        if (programs == 0) check.skip("the plug-in has no programs");
        Instance first(*module);
        Instance second(*module);
        const std::string before = second.programName();
        char name[kProgramText] = "Only the first one's";
        first.call(effSetProgramName, 0, 0, name);
        const std::string renamed = first.programName();
        if (renamed == before) check.skip("the plug-in keeps its program names as they are");
        check.expect(second.programName() == before, "renaming a program in one instance renamed it in another, to '%s'",
                     second.programName().c_str());
        Instance third(*module);
        check.expect(third.programName() == before, "an instance opened after another renamed a program starts with "
                     "that name, '%s'", third.programName().c_str());
        // Leave a shared bank as found, should there be one.
        char old[kProgramText] = {};
        std::strncpy(old, before.c_str(), kProgramText - 1);
        first.call(effSetProgramName, 0, 0, old);
    });

    runner.run("programs.rename-keeps-the-rest", [&](Check& check) {
        if (programs == 0) check.skip("the plug-in has no programs");
        Instance instance(*module);
        const SavedState before = save(instance);
        const int32_t target = programs > 1 ? 1 : 0;
        instance.call(effSetProgram, 0, target);
        char name[kProgramText] = "Renamed by the validator";  // 24 characters
        instance.call(effSetProgramName, 0, 0, name);
        // 24 characters fit; a plug-in may keep fewer, but no other text.
        const std::string back = instance.programName();
        check.expect(!back.empty() && std::string(name).compare(0, back.size(), back) == 0,
                     "the new name reads back as '%s'", back.c_str());
        if (back != name) check.note("keeps %zu of the name's 24 characters", back.size());
        instance.call(effSetProgram, 0, before.current);
        const SavedState after = save(instance);
        for (int32_t p = 0; p < programs; ++p) {
            const size_t q = static_cast<size_t>(p);
            if (p != target)
                check.expect(after.names[q] == before.names[q], "program %d's name changed to '%s'", p, after.names[q].c_str());
            for (size_t i = 0; i < before.values[q].size(); ++i)
                check.expect(sameValue(after.values[q][i], before.values[q][i]), "program %d parameter %zu changed", p, i);
        }
        // Leave the bank as found for later groups in this process.
        instance.call(effSetProgram, 0, target);
        char old[kProgramText] = {};
        std::strncpy(old, before.names[static_cast<size_t>(target)].c_str(), kProgramText - 1);
        instance.call(effSetProgramName, 0, 0, old);
        instance.call(effSetProgram, 0, before.current);
    });
}

}  // namespace validate
