// SPDX-License-Identifier: Apache-2.0
package velta.test;

import java.lang.instrument.Instrumentation;
import java.lang.reflect.Method;
import java.net.URL;
import java.util.Arrays;
import java.util.Collections;

/**
 * Prints what a program run from a jar sees: arguments, command line, class path and the jars
 * searched, packages open or exported to it, native access, and where its agentmain ran as the jar's
 * Launcher-Agent-Class.
 */
public class JarView {
    public static void agentmain(String args, Instrumentation instrumentation) {
        System.setProperty("velta.agent", "agentmain(\"" + args + "\") on " + Thread.currentThread().getName() + ", loaded by "
            + JarView.class.getClassLoader().getClass().getSimpleName() + ", redefinition " + instrumentation.isRedefineClassesSupported());
    }

    public static void main(String[] args) throws Exception {
        StringBuilder out = new StringBuilder("thread " + Thread.currentThread().getName() + "\n");
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
            Module module = ModuleLayer.boot().findModule(pair.split("/")[0]).orElseThrow();
            String name = pair.split("/")[1];
            out.append(pair).append(module.isOpen(name, self) ? " open" : "")
                .append(module.isExported(name, self) ? " exported" : "").append('\n');
        }
        // JDK 17 has no such method.
        Method nativeAccess = Arrays.stream(Module.class.getMethods())
            .filter(method -> method.getName().equals("isNativeAccessEnabled")).findFirst().orElse(null);
        System.out.print(out.append("native access ").append(nativeAccess == null ? "absent" : nativeAccess.invoke(self)).append('\n'));
    }
}
