package com.zephra.tallix.devices;

/** One sound device as the voice engine lists it; the key names it in later calls. */
public class AudioDevice {
    private int id;
    private String name;
    private String key;
    private boolean input;
    private boolean output;
    private boolean defaultInput;
    private boolean defaultOutput;

    public AudioDevice() {}

    public int getId() { return id; }
    public void setId(int id) { this.id = id; }
    public String getName() { return name; }
    public void setName(String name) { this.name = name; }
    public String getKey() { return key; }
    public void setKey(String key) { this.key = key; }
    public boolean isInput() { return input; }
    public void setInput(boolean input) { this.input = input; }
    public boolean isOutput() { return output; }
    public void setOutput(boolean output) { this.output = output; }
    public boolean isDefaultInput() { return defaultInput; }
    public void setDefaultInput(boolean defaultInput) { this.defaultInput = defaultInput; }
    public boolean isDefaultOutput() { return defaultOutput; }
    public void setDefaultOutput(boolean defaultOutput) { this.defaultOutput = defaultOutput; }

    @Override
    public String toString() {
        return String.format("[%d] %s key=%s%s%s%s%s", id, name, key, input ? " in" : "", output ? " out" : "",
                defaultInput ? " default-in" : "", defaultOutput ? " default-out" : "");
    }
}
