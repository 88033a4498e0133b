// SPDX-License-Identifier: Apache-2.0
package velta.test;

import java.lang.reflect.Method;
import java.net.URL;
import java.util.Collections;

/**
 * Prints, one item a line, what a program run from a jar sees: its arguments, its command line and
 * class path, the jars its class loader searches in their order, the packages open or exported to
 * it, whether it has native access, and what a Launcher-Agent-Class agent left.
 */
public class JarView {
    public static void main(String[] args) throws Exception {
        StringBuilder out = new StringBuilder();
        out.append("thread ").append(Thread.currentThread().getName()).append('\n');
        for (String arg : args) {
            out.append("argument [").append(arg).append("]\n");
        }
        for (String name : new String[] {"java.class.path", "sun.java.command", "velta.agent"}) {
            out.append(name).append(' ').append(System.getProperty(name)).append('\n');
        }
        for (URL jar : Collections.list(ClassLoader.getSystemClassLoader().getResources("META-INF/MANIFEST.MF"))) {
            out.append("searches ").append(jar).append('\n');
        }
        Module self = JarView.class.getModule();
        for (String pair : new String[] {"java.base/java.lang", "java.base/java.util", "java.base/jdk.internal.misc",
                                         "java.base/sun.nio.ch", "java.management/sun.management"}) {
            String[] parts = pair.split("/");
            Module module = ModuleLayer.boot().findModule(parts[0]).orElseThrow();
            out.append(pair).append(module.isOpen(parts[1], self) ? " open" : "")
                .append(module.isExported(parts[1], self) ? " exported" : "").append('\n');
        }
        Method nativeAccess = null;
        try {
            nativeAccess = Module.class.getMethod("isNativeAccessEnabled");
        } catch (NoSuchMethodException absent) {
            // JDK 17 has no such notion.
        }
        out.append("native access ").append(nativeAccess == null ? "absent" : nativeAccess.invoke(self)).append('\n');
        System.out.print(out);
    }
}
