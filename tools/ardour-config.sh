# What every Ardour session of the host tries shares: the test signal, a
# Lua DSP script whose output is a function of the transport position alone
# (silent while the transport stands), so that every export of the same
# range gets the same input and the input can be exported by itself; and
# an export preset for 32-bit float WAV at the session rate. Sourced by the
# try-*-hosts scripts after they set $config (Ardour's configuration folder).
write_ardour_config() {
    cat >"$config/scripts/z5r_test_signal.lua" <<'EOF'
ardour {
	["type"] = "dsp",
	name = "Z5R Test Signal",
	category = "Utility",
	author = "QMV",
	license = "proprietary",
	description = "Decaying partials that depend on the transport position alone"
}

function dsp_ioconfig ()
	return { { audio_in = 2, audio_out = 2 } }
end

function dsp_run (ins, outs, n_samples)
	local rolling = Session:transport_rolling ()
	local pos = Session:transport_sample ()
	for c = 1, #outs do
		local a = outs[c]:array ()
		for s = 1, n_samples do
			local n = pos + s - 1
			if rolling and n >= 0 then
				a[s] = 0.6 * math.sin (0.0411 * n * c) * (0.9997 ^ (n % 12000))
			else
				a[s] = 0
			end
		end
	end
end
EOF

    # 32-bit float WAV at the session rate.
    cat >"$config/export/z5r-float.preset" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<ExportPreset id="5a1f2c9e-9d5b-4c1e-8f6a-3e2d1c0b9a87" name="Z5R float WAV">
  <ExportFormat id="20b4ab09-6452-4cb3-bd66-b921cdbd2942"/>
  <ExportFilename>
    <Folder relative="1" path="export"/>
    <Field name="label" enabled="1"/>
    <Field name="session" enabled="0"/>
    <Field name="snapshot" enabled="0"/>
    <Field name="timespan" enabled="0"/>
    <Field name="revision" enabled="0"/>
    <Field name="time" enabled="0" value="T_None"/>
    <Field name="date" enabled="0" value="D_None"/>
  </ExportFilename>
</ExportPreset>
EOF
}
