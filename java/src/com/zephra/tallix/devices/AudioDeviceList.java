package com.zephra.tallix.devices;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/** The devices that one listing returned, in the engine's order. */
public class AudioDeviceList {
    private final List<AudioDevice> devices = new ArrayList<>();

    public void addDevice(AudioDevice device) {
        devices.add(device);
    }

    public List<AudioDevice> getDevices() {
        return Collections.unmodifiableList(devices);
    }
}
