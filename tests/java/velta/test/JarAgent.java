// SPDX-License-Identifier: Apache-2.0
package velta.test;

import java.lang.instrument.Instrumentation;

/** A Launcher-Agent-Class agent: records, for JarView, how and where it was started. */
public class JarAgent {
    public static void agentmain(String args, Instrumentation instrumentation) {
        System.setProperty("velta.agent", "agentmain(\"" + args + "\") on " + Thread.currentThread().getName()
            + ", loaded by " + JarAgent.class.getClassLoader().getClass().getSimpleName()
            + ", redefinition " + instrumentation.isRedefineClassesSupported());
    }
}
