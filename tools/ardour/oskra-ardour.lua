-- Drives Ardour 7 headless through the Oskra VST3 instrument (tools/ardour/check.sh runs it):
--   ardour7-lua oskra-ardour.lua <folder> create   finds Oskra among the scanned plug-ins, puts it
--       on a MIDI track of a new session, lists its parameters, plays notes and reads the
--       track's meter, changes a parameter and saves the session;
--   ardour7-lua oskra-ardour.lua <folder> restore  loads that session in a new process and checks
--       the parameter and the sound.
-- (Ardour's Lua session tool cannot load a session after closing one in the same process.)
local dir = arg[1]
local mode = arg[2]
local name = "oskra"
local restoredPan = -40

backend = AudioEngine:set_backend("None (Dummy)", "", "")
assert(AudioEngine:start(false) == 0, "the audio engine did not start")

local found = nil
for p in ARDOUR.LuaAPI.list_plugins():iter() do
  if p.type == ARDOUR.PluginType.VST3 and p.name == "Oskra" then found = p end
end
assert(found, "Oskra was not found among the scanned plug-ins")
print("scanned: " .. found.name .. " by " .. found.creator .. ", " .. found.category .. ", " .. found.path)

-- The instrument's insert on the track named "Drums".
function oskra_of(session)
  local route = session:route_by_name("Drums")
  assert(not route:isnil(), "no track Drums")
  local proc = route:nth_plugin(0)
  assert(not proc:isnil(), "no plug-in on the track")
  return route, proc, proc:to_insert()
end

-- The control number of the parameter with this label, and its value.
function param(insert, label)
  local plug = insert:plugin(0)
  local n = 0
  for j = 0, plug:parameter_count() - 1 do
    if plug:parameter_is_control(j) and plug:parameter_is_input(j) then
      if plug:parameter_label(j) == label then
        return n, ARDOUR.LuaAPI.get_plugin_insert_param(insert, n, true)
      end
      n = n + 1
    end
  end
  return nil, nil
end

-- Sends MIDI bytes straight to the plug-in.
function send(insert, bytes)
  local parser = ARDOUR.RawMidiParser()
  for _, b in ipairs(bytes) do
    if parser:process_byte(b) then
      insert:write_immediate_event(Evoral.EventType.MIDI_EVENT, parser:buffer_size(), parser:midi_buffer())
    end
  end
end

-- The louder of the track's two audio meters, in dBFS (the meter's first channel is MIDI).
function level(route)
  local meter = route:peak_meter()
  local channels = meter:input_streams():n_total()
  local loudest = -200
  for c = channels - 2, channels - 1 do
    local l = meter:meter_level(c, ARDOUR.MeterType.MeterPeak)
    if l > loudest then loudest = l end
  end
  return loudest
end

-- Plays each note and returns the highest peak the track's meter showed (dBFS).
function play(route, insert, notes)
  local loudest = -200
  for _, note in ipairs(notes) do
    send(insert, {0x90, note, 120})
    for i = 1, 20 do
      ARDOUR.LuaAPI.usleep(10000)
      local l = level(route)
      if l > loudest then loudest = l end
    end
    send(insert, {0x80, note, 0})
    ARDOUR.LuaAPI.usleep(100000)
  end
  return loudest
end

if mode == "create" then
  local s = create_session(dir, name, 48000)
  assert(s, "no session")
  local tracks = s:new_midi_track(ARDOUR.ChanCount(ARDOUR.DataType("midi"), 1),
    ARDOUR.ChanCount(ARDOUR.DataType("audio"), 2), true, ARDOUR.LuaAPI.new_plugin_info("Oskra", ARDOUR.PluginType.VST3),
    nil, nil, 1, "Drums", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true, false)
  assert(tracks:size() == 1, "no track")
  local route, proc, insert = oskra_of(s)
  local plug = insert:plugin(0)
  print("instantiated: " .. plug:name() .. " by " .. plug:maker() .. ", " .. plug:parameter_count() .. " parameters")
  local shown = {}
  for j = 0, plug:parameter_count() - 1 do
    if #shown < 8 and plug:parameter_is_input(j) then shown[#shown + 1] = plug:parameter_label(j) end
  end
  print("parameters: " .. table.concat(shown, ", ") .. ", ...")
  route:set_meter_point(ARDOUR.MeterPoint.MeterPostFader)
  ARDOUR.LuaAPI.usleep(300000)
  print(string.format("before the notes: %.1f dBFS", level(route)))
  local loudest = play(route, insert, {36, 37, 38, 39, 40, 41, 42, 43})
  print(string.format("notes 36..43 played: peak %.1f dBFS", loudest))
  assert(loudest > -30, "no sound")
  local n, before = param(insert, "Track 1 Pan")
  assert(n, "no parameter Track 1 Pan")
  ARDOUR.LuaAPI.set_plugin_insert_param(insert, n, restoredPan)
  local _, set = param(insert, "Track 1 Pan")
  print(string.format("Track 1 Pan: %.1f, set to %.1f", before, set))
  assert(s:save_state("", false, false, false, false, false) == 0, "the session was not saved")
  print("saved " .. dir .. "/" .. name .. ".ardour")
elseif mode == "restore" then
  local s = load_session(dir, name)
  assert(s, "the session did not load")
  local route, proc, insert = oskra_of(s)
  local _, restored = param(insert, "Track 1 Pan")
  print(string.format("restored: %s with Track 1 Pan %.1f", insert:plugin(0):name(), restored))
  assert(math.abs(restored - restoredPan) < 0.01, "the parameter was not restored")
  route:set_meter_point(ARDOUR.MeterPoint.MeterPostFader)
  local loudest = play(route, insert, {36, 38, 42})
  print(string.format("notes after the restore: peak %.1f dBFS", loudest))
  assert(loudest > -30, "no sound after the restore")
else
  error("usage: oskra-ardour.lua <session folder> create|restore")
end
close_session()
print("done")
